#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

class QTextStream;

// The local control socket of a running server. `quillora-server ring NUMBER` connects
// to it and writes "RING <number>" and a line end; the server announces the call and
// answers with one line saying what it did. Only the user who runs the server can
// connect; the ring command tells a number only to a server of its own user (or of the
// superuser, or the service's in the folder the superuser gave it).
class ControlChannel final : public QObject {
    Q_OBJECT
public:
    // Announces a call and returns the line that describes what was done.
    using Ring = std::function<QString(const QString& number)>;

    explicit ControlChannel(Ring ring, QObject* parent = nullptr);

    // The socket a server on this port uses unless told otherwise, in the user's runtime
    // folder: $XDG_RUNTIME_DIR, else a folder of the user's own below the temporary folder.
    static QString nameForPort(quint16 port);

    // Starts listening, making the runtime folder (private) when the socket goes there and
    // it is missing. Fails when another running server already uses the name, or when the
    // runtime folder is not this user's alone; a socket left behind by a killed server of
    // this user is taken over, another user's file is not.
    bool listen(const QString& name, QString* error);
    QString name() const { return m_server.serverName(); }
    QString fullName() const { return m_server.fullServerName(); }

    // The longest number a ring may carry.
    static constexpr int MaxNumberLength = 64;
    // Empty when the number can be announced, else why not.
    static QString checkNumber(const QString& number);

    // The client side, for the ring command: sends the number, writes the server's
    // answer to out and returns 0, or writes why it failed to err and returns 1.
    static int ring(const QString& name, const QString& number, QTextStream& out, QTextStream& err);

private:
    void onConnection();

    Ring m_ring;
    QLocalServer m_server;
};
