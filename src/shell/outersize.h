#pragma once

#include <QMargins>
#include <QObject>
#include <QSize>
#include <QTimer>

class QWidget;

// A top-level window's size the classic way: the outer size, frame and title bar
// included. The frame is the window manager's, measured once the window is framed;
// until then the frame last measured on any window of the program stands in, or a
// common default before the first. A window that gets no frame has none. When the measured frame
// differs from the one the size was worked out with, the outer size is applied again.
class OuterSize final : public QObject {
    Q_OBJECT
public:
    // Fixed: exactly this size, and the user cannot resize the window.
    enum class Kind { Fixed, Resizable };
    static inline const QMargins DefaultFrame{1, 22, 1, 1};

    OuterSize(QWidget* window, Kind kind);

    // The frame around the client area: measured, or the stand-in.
    QMargins frame() const;
    // The window's outer size as it is now, in pixels.
    QSize outer() const;

    void setOuter(const QSize& size);
    void setOuterWidth(int width) { setOuter(QSize(width, outer().height())); }
    void setOuterHeight(int height) { setOuter(QSize(outer().width(), height)); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply();
    // Applies the size again if the frame has changed since; a window the user has
    // resized meanwhile keeps the user's size.
    void recheck();
    bool frameKnown() const;
    // Looks for the frame after a show, until the window manager has framed the window.
    void lookAgain();

    QWidget* m_window;
    Kind m_kind;
    QSize m_outer; // the size asked for; invalid until then
    QSize m_appliedInner;
    QMargins m_appliedFrame;
    QTimer m_retry;
    int m_looks = 0;
    mutable bool m_frameless = false; // shown, looked at, and no frame came
    int m_corrections = 0;
};
