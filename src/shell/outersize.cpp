#include "shell/outersize.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

QMargins& lastMeasured()
{
    static QMargins frame = OuterSize::DefaultFrame;
    return frame;
}

} // namespace

OuterSize::OuterSize(QWidget* window, Kind kind) : QObject(window), m_window(window), m_kind(kind)
{
    window->installEventFilter(this);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &OuterSize::lookAgain);
}

QMargins OuterSize::frame() const
{
    if (m_window->isVisible()) {
        if (const QWindow* handle = m_window->windowHandle()) {
            const QMargins measured = handle->frameMargins();
            if (!measured.isNull()) {
                m_frameless = false; // framed after all, if late
                lastMeasured() = measured;
                return measured;
            }
        }
    }
    return m_frameless ? QMargins() : lastMeasured();
}

QSize OuterSize::outer() const
{
    return m_window->size().grownBy(frame());
}

void OuterSize::setOuter(const QSize& size)
{
    m_outer = size;
    apply();
}

void OuterSize::apply()
{
    const QMargins frame = this->frame();
    const QSize inner = m_outer.shrunkBy(frame).expandedTo(QSize(1, 1));
    m_appliedFrame = frame;
    m_appliedInner = inner;
    if (m_kind == Kind::Fixed) {
        // Limits first widened to take the new size: a window manager clamps the resize
        // to the limits it knows at that moment.
        m_window->setMinimumSize(inner.boundedTo(m_window->minimumSize()));
        m_window->setMaximumSize(inner.expandedTo(m_window->maximumSize()));
        m_window->setFixedSize(inner);
    }
    // Unchanged limits resize nothing, though the window manager may have sized the
    // window otherwise.
    m_window->resize(inner);
}

void OuterSize::recheck()
{
    // Resizing a minimised window would bring it back on some window managers; it is
    // looked at again once it is restored.
    if (!m_outer.isValid() || m_window->isMinimized() || frame() == m_appliedFrame)
        return;
    if (m_kind == Kind::Resizable && m_window->size() != m_appliedInner) {
        m_outer = QSize(); // resized by the user since: theirs now
        return;
    }
    apply();
}

bool OuterSize::frameKnown() const
{
    const QWindow* handle = m_window->windowHandle();
    return handle && !handle->frameMargins().isNull();
}

void OuterSize::lookAgain()
{
    if (frameKnown()) {
        recheck();
    } else if (m_looks < 4) {
        // The window manager frames a window shortly after it is shown; a few looks,
        // further and further apart, cover a slow one.
        m_retry.start(20 << (2 * m_looks++));
    } else {
        // Still no frame: a desktop that draws none (or does not say).
        m_frameless = true;
        lastMeasured() = QMargins();
        recheck();
    }
}

bool OuterSize::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
        m_looks = 0;
        m_corrections = 0;
        lookAgain();
        break;
    case QEvent::Move:
    case QEvent::WindowActivate:
    case QEvent::WindowStateChange:
        recheck();
        break;
    case QEvent::Resize:
        // A window manager may still apply a size it was given before the window was
        // last hidden; a fixed window takes its own size back, a few times at most.
        if (m_kind == Kind::Fixed && m_outer.isValid() && !m_window->isMinimized() &&
            m_window->size() != m_appliedInner && m_corrections < 3) {
            ++m_corrections;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!m_window->isMinimized() && m_window->size() != m_appliedInner)
                        apply();
                },
                Qt::QueuedConnection);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
