// The Windows client under Wine beside the Linux client, on one X desktop in the same run: from
// the server's write of a call on a real socket to the pop-up mapped on the X server. Each client
// is the real program, logged in to a loopback server of its own; rounds alternate between them,
// and each finds its pop-up closed (it closes itself after a second), so each loads the window.
// The ratio says what Wine adds: the client itself is the same code.
//   scripts/build-windows && scripts/build benches
//   scripts/with-desktop build/bench/bench_windows_popup
// QUILLORA_WINDOWS_CLIENT names another Windows build's quillora-client.exe.

#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

constexpr int Rounds = 20;

// Watches the X server for a window called "Incoming call" being mapped and unmapped: every
// new top-level window is followed (its own map, also inside a window manager's frame).
class PopUpWatch {
public:
    PopUpWatch() : m_x(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_x);
    }
    ~PopUpWatch() { xcb_disconnect(m_x); }
    bool ok() const { return !xcb_connection_has_error(m_x); }

    // Runs the event loop until the pop-up is mapped (`mapped`) or gone; the milliseconds
    // since `timer` started, or -1 after 10 s.
    double wait(bool mapped, const QElapsedTimer& timer)
    {
        while (timer.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            pollfd fd{xcb_get_file_descriptor(m_x), POLLIN, 0};
            ::poll(&fd, 1, 1);
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_x)) {
                handle(event);
                std::free(event);
            }
            if ((m_popUp != 0) == mapped)
                return double(timer.nsecsElapsed()) / 1e6;
        }
        return -1;
    }

private:
    void handle(const xcb_generic_event_t* event)
    {
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto* created = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(m_x, created->window, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(m_x);
            break;
        }
        case XCB_MAP_NOTIFY: {
            const xcb_window_t window =
                reinterpret_cast<const xcb_map_notify_event_t*>(event)->window;
            if (name(window) == "Incoming call")
                m_popUp = window;
            break;
        }
        case XCB_UNMAP_NOTIFY:
            if (reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == m_popUp)
                m_popUp = 0;
            break;
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == m_popUp)
                m_popUp = 0;
            break;
        }
    }
    QByteArray name(xcb_window_t window)
    {
        const auto cookie = xcb_get_property(m_x, 0, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(m_x, cookie, nullptr);
        QByteArray text;
        if (reply)
            text = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                              xcb_get_property_value_length(reply));
        std::free(reply);
        return text;
    }

    xcb_connection_t* m_x;
    xcb_window_t m_popUp = 0;
};

struct Client {
    explicit Client(const char* label) : name(label) {}
    const char* name;
    testsupport::LoopbackServer server;
    QProcess process;
    std::vector<double> ms;
};

// The client's settings as registry lines ("Key"="value"), one per '|'.
QByteArray settingsLines(quint16 port)
{
    return "\"ClientServerIP\"=\"127.0.0.1\"|\"ClientPort\"=\"" + QByteArray::number(port) +
           "\"|\"ClientServerPassword\"=\"sesame\"|\"ClientAutoStart\"=\"True\"|"
           "\"ClientPopUpClose\"=\"True\"|\"ClientPopUpCloseTime\"=\"1\"|";
}

double percentile(std::vector<double> ms, double share)
{
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, size_t(double(ms.size()) * share))];
}

// Starts the client with its settings (a file for Linux, the registry under Wine) and waits
// until it has logged in.
bool start(Client& client, const QString& home, bool windows)
{
    QByteArray lines = settingsLines(client.server.port());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_RUNTIME_DIR", home);
    env.insert("QUILLORA_WINEPREFIX", home + "/wine");
    env.remove("QT_QPA_PLATFORM");
    QDir(home).mkpath("config/Quillora");
    QFile file(windows ? home + "/settings.reg" : home + "/config/Quillora/Quillora.conf");
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (windows) {
        file.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VB and VBA Program "
                   "Settings\\Quillora\\Settings]\r\n" +
                   lines.replace('|', "\r\n"));
    } else {
        file.write("[Settings]\n" + lines.replace('"', "").replace('|', '\n'));
    }
    file.close();
    client.process.setProcessEnvironment(env);
    if (windows) {
        QProcess reg;
        reg.setProcessEnvironment(env);
        reg.start(QUILLORA_WITH_WINE,
                  {"reg", "import", "Z:" + QDir::toNativeSeparators(file.fileName())});
        reg.waitForFinished(60000);
        client.process.start(QUILLORA_WITH_WINE, {qEnvironmentVariable("QUILLORA_WINDOWS_CLIENT",
                                                                       QUILLORA_WINDOWS_CLIENT)});
    } else {
        client.process.start(QUILLORA_CLIENT_BIN, QStringList());
    }
    if (!client.server.waitForClient(60000))
        return false;
    client.server.send("Welcome to Quillora Server [0.92]");
    return client.server.waitForReceived(6, 20000);
}

void print(const Client& client)
{
    std::printf("%-24s median %7.2f ms, p90 %7.2f ms, max %7.2f ms\n", client.name,
                percentile(client.ms, 0.5), percentile(client.ms, 0.9), percentile(client.ms, 1));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X desktop: scripts/with-desktop %s\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    PopUpWatch watch;
    QTemporaryDir home;
    if (!watch.ok() || !home.isValid())
        return 2;
    Client linux("Linux client:");
    Client windows("Windows client (Wine):");
    if (!start(linux, home.filePath("linux"), false) ||
        !start(windows, home.filePath("windows"), true)) {
        std::fprintf(stderr, "a client did not log in\n");
        return 1;
    }
    for (int i = 0; i < 2 * Rounds; ++i) {
        Client& client = i % 2 ? windows : linux;
        const QByteArray call = "CALL_:2026-12-06 10:00,+1 555 " + QByteArray::number(1000 + i) +
                                ",Margaret Holloway,+1 555 0142,,,,m.holloway@example.org";
        QElapsedTimer timer;
        timer.start();
        client.server.send(call);
        const double ms = watch.wait(true, timer);
        if (ms < 0 || watch.wait(false, timer) < 0) {
            std::fprintf(stderr, "%s call %d: no pop-up, or it did not close\n", client.name, i);
            return 1;
        }
        client.ms.push_back(ms);
    }
    std::printf("rounds: %d each; call written -> pop-up mapped on the X server\n", Rounds);
    print(linux);
    print(windows);
    std::printf("Windows under Wine / Linux (medians): %.2fx\n",
                percentile(windows.ms, 0.5) / percentile(linux.ms, 0.5));
    for (Client* client : {&linux, &windows}) {
        client->process.kill();
        client->process.waitForFinished();
    }
    QProcess end;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLORA_WINEPREFIX", home.filePath("windows/wine"));
    end.setProcessEnvironment(env);
    end.start(QUILLORA_WITH_WINE, {"--end"});
    end.waitForFinished();
    return 0;
}
