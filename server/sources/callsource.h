#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// One call as a telephone line reports it.
struct IncomingCall {
    QString line;   // the line it came in on, as the source knows it; merges repeats
    QString number; // as the line gave it; a withheld number as the words below
    QString name;   // the caller's name if the line says, else empty
    QString called; // which of the site's own numbers was called, where the line says
    QDateTime at = QDateTime::currentDateTime(); // when it came in
};

// How patient a source is. The defaults are the shipped behaviour; tests shorten them.
struct SourceTiming {
    int firstRetryMs = 1000;      // the pause before the first retry after a loss; doubled
    int longestRetryMs = 60000;   // after each failed try up to this
    int connectTimeoutMs = 10000; // a connection not made by then counts as failed
    int ringGapMs = 8000;         // no RING for this long: the modem's call has ended
};

// What a line says instead of a number it does not give.
namespace withheld {
inline const QString Private = QStringLiteral("Private");
inline const QString OutOfArea = QStringLiteral("Out of area");
inline const QString Anonymous = QStringLiteral("Anonymous");
} // namespace withheld

// Where calls come from: a modem on a phone line, a router's call monitor, a PBX. A source
// opens its device or connects once started, keeps itself up (reopening or reconnecting
// with a growing pause after a loss), and tells when it is up and when it went down. It
// never blocks the event loop and bounds what it buffers of what the other side sends.
class CallSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // How the log names it: "modem /dev/ttyACM0", "fritzbox 192.168.178.1:1012".
    virtual QString name() const = 0;
    virtual void start() = 0;
    bool isUp() const { return m_up; }

signals:
    void callCame(const IncomingCall& call);
    // Up: opened or connected, set up and listening for calls. Down: why it is not.
    void up();
    void down(const QString& why);

protected:
    // Emit up() or down() on a change only; a source that fails again while down stays
    // quiet (the first reason is the one told).
    void setUp()
    {
        if (m_up)
            return;
        m_up = true;
        m_everDown = false;
        emit up();
    }
    void setDown(const QString& why)
    {
        if (!m_up && m_everDown)
            return;
        m_up = false;
        m_everDown = true;
        emit down(why);
    }

private:
    bool m_up = false;
    bool m_everDown = false;
};
