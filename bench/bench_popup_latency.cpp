// What a user waits for when the phone rings: from the server's write of a call on a real
// socket to the pop-up mapped on the X server, filled, over 50 calls that each find the
// pop-up closed (so each loads the window). Beside it, a bare Qt window of the same size,
// flags and attributes, from show() to mapped the same way: the ratio says what the program adds to
// what any window costs on this desktop. Needs an X desktop:
//   scripts/with-desktop build/bench/bench_popup_latency

#include "popup/frmquillora.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>
#include <xcb/xcb.h>

namespace {

constexpr int Rounds = 50;

// Whether the X server has the window mapped and viewable, asked on a connection of our own
// rather than believed from the toolkit.
bool mappedOnServer(xcb_connection_t* x, WId window)
{
    const auto cookie = xcb_get_window_attributes(x, xcb_window_t(window));
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(x, cookie, nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

// Runs the event loop until `window` gives a window that the X server shows; the
// milliseconds since `timer` started, or -1 after 5 s.
double waitMapped(xcb_connection_t* x, const QElapsedTimer& timer,
                  const std::function<QWidget*()>& window)
{
    while (timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QWidget* w = window();
        if (w && w->isVisible() && w->testAttribute(Qt::WA_WState_Created) &&
            mappedOnServer(x, w->winId()))
            return double(timer.nsecsElapsed()) / 1e6;
    }
    return -1;
}

struct Figures {
    double median, p99, max;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[size_t(double(ms.size()) * 0.99) - 1], ms.back()};
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X desktop: scripts/with-desktop %s\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "cannot reach the X server\n");
        return 2;
    }
    testsupport::Environment env;
    testsupport::LoopbackServer server;
    if (!testsupport::connectMainWindow(server)) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }

    // Rounds alternate a call and a bare window, so that what the desktop is doing
    // meanwhile weighs on both alike.
    std::vector<double> popUp;
    std::vector<double> bare;
    for (int i = 0; i < Rounds; ++i) {
        const QString number = QStringLiteral("+1 555 %1").arg(1000 + i);
        const QByteArray call = "CALL_:2026-12-06 10:00," + number.toUtf8() +
                                ",Margaret Holloway,+1 555 0142,+1 555 0199,+1 555 0100,"
                                "+1 555 0101,m.holloway@example.org";
        QElapsedTimer timer;
        timer.start();
        server.send(call);
        const double ms = waitMapped(x, timer, [&]() -> QWidget* {
            FrmQuillora* p = forms::loadedOrNull<FrmQuillora>();
            return p && p->lblNumberCalling->text() == number ? p : nullptr;
        });
        if (ms < 0) {
            std::fprintf(stderr, "call %d: the pop-up was not mapped within 5 s\n", i);
            return 1;
        }
        popUp.push_back(ms);
        FrmQuillora* p = forms::loadedOrNull<FrmQuillora>();
        const QRect place = p->geometry();
        auto* window = new QWidget(nullptr, p->windowFlags());
        window->setAttribute(Qt::WA_ShowWithoutActivating,
                             p->testAttribute(Qt::WA_ShowWithoutActivating));
        forms::unload<FrmQuillora>();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        window->setGeometry(place);
        timer.start();
        window->show();
        const double bareMs = waitMapped(x, timer, [window] { return window; });
        if (bareMs < 0) {
            std::fprintf(stderr, "the bare window was not mapped within 5 s\n");
            return 1;
        }
        bare.push_back(bareMs);
        delete window;
        QCoreApplication::processEvents();
    }
    xcb_disconnect(x);

    const Figures p = figures(popUp);
    const Figures b = figures(bare);
    std::printf("rounds: %d each, on the X desktop of DISPLAY=%s\n", Rounds,
                qPrintable(qEnvironmentVariable("DISPLAY")));
    std::printf(
        "call written -> pop-up mapped and filled: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
        p.median, p.p99, p.max);
    std::printf(
        "bare window show() -> mapped:            median %.2f ms, p99 %.2f ms, max %.2f ms\n",
        b.median, b.p99, b.max);
    std::printf("pop-up / bare window (medians): %.2fx\n", p.median / b.median);
    return 0;
}
