#pragma once

#include "session/connectionkeeper.h"
#include "session/session.h"
#include "shell/outersize.h"
#include "tray/tray.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <array>
#include <memory>

// The main window: connection fields and buttons, the debug log pane, the status bar
// and the menus. Constructing it is the client's start (its load handler); closing it
// unloads every window and ends the client.
class FrmMain final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int ShortHeightTwips = 3165;
    static constexpr int TallHeightTwips = 5955;
    static constexpr int WidthTwips = 5700;
    static constexpr int PanelWidthTwips = 2340;

    FrmMain();
    ~FrmMain() override;

    // Load: versions, caption, status bar, first log line, then the stored settings.
    void Form_Load();

    // Writes one log line, newest first: "HH:MM " + the text.
    void txtOut(const QString& strInput);

    // 0 connects to the address and port fields, 1 disconnects, anything else nothing.
    void cmdConnect_Click(int index);

    // Takes the window off the screen; the tray icon stays as the way back. Where the
    // desktop has no system tray the window is minimised instead, and the log says so.
    void MinimizeToTray();

    // Brings the window to the front: out of the tray or the minimised state as a left
    // click on the tray icon does, then shown, raised and activated. Another start of the
    // client asks for this, and so does the tray menu's Show.
    void bringForward();

    Session& sckConnect() { return m_session; }
    const Session& sckConnect() const { return m_session; }
    ConnectionKeeper& keeper() { return *m_keeper; }
    bool isHiddenInTray() const { return m_hiddenInTray; }

    // The log pane's lines, newest first.
    QStringList logLines() const;
    // The log pane keeps the newest lines, at most this many and this many characters
    // (the newest line always).
    static constexpr int MaxLogLines = 2000;
    static constexpr int MaxLogCharacters = 256 * 1024;

    std::array<QLineEdit*, 2> txtDebug{};
    std::array<QPushButton*, 2> cmdConnect{};
    std::array<QLabel*, 2> lblInfo{};
    QLabel* lblInformation = nullptr;
    QCheckBox* chkDebug = nullptr;
    QPlainTextEdit* txtInput = nullptr;
    std::array<QLabel*, 2> statusPanel{};
    Tray* Tray1 = nullptr;

    QAction* FileExit = nullptr;
    QAction* ToolsMinimizeToTray = nullptr;
    QAction* ToolAddEditContacts = nullptr;
    QAction* ToolsSettings = nullptr;
    QAction* StatisticsStatistics = nullptr;
    QAction* HelpQuilloraHelp = nullptr;
    QAction* HelpHomepage = nullptr;
    QAction* HelpAbout = nullptr;

    // The tray icon's menu (a right click): Show, Connect, Disconnect, Exit.
    QAction* TrayShow = nullptr;
    QAction* TrayConnect = nullptr;
    QAction* TrayDisconnect = nullptr;
    QAction* TrayExit = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void buildStatusBar();
    void buildTrayMenu();
    void chkDebug_Click();
    void Tray1_MouseClick(int Button);
    void restoreFromTray();
    // Opens the address in the desktop's web browser; failures go unreported.
    void ShellOpen(const QString& address);

    // Session controller: the socket's events and the mirroring of its state.
    void sckConnect_Connect();
    void sckConnect_Close();
    void sckConnect_Error(int number, const QString& description);
    // TLS: the server's certificate does not verify and no key is trusted for it (the
    // user is asked whether to trust it), or its key is not the trusted one.
    void sckConnect_KeyUntrusted(const QString& pin, const QString& why);
    void sckConnect_KeyChanged(const QString& trusted, const QString& offered);
    void timerConnected_Timer();
    // The server has been silent too long, or a retry got no answer: the connection or
    // attempt fails as by a socket error.
    void giveUpConnection(const QString& description);
    // The failure's box (or none), then the socket closed, two log lines and the
    // disconnected look. False when the box's event loop ended the window, or the user
    // connected again meanwhile: then nothing more of the failed connection is done.
    [[nodiscard]] bool reportFailure(int number, const QString& description, bool withBox);
    void resetConnectionControls();
    // The tray icon greyed and its tooltip telling the state while not connected.
    void showStateInTray(bool connected);

    Session m_session;
    ConnectionKeeper* m_keeper = nullptr;
    OuterSize* m_outerSize = nullptr;
    QString m_trayTip;        // the tooltip the tray has now
    int m_trayConnected = -1; // the look the tray's picture has now: 1 connected, 0 not
    bool m_unloaded = false;
    bool m_hiddenInTray = false;
    bool m_minimizedForTray = false; // minimised for want of a tray

    struct DeleteLater {
        void operator()(QObject* object) const { object->deleteLater(); }
    };
    // Not a child of the window, and deleted only once control is back in the event
    // loop: its Exit unloads the window while the menu may still run its own loop.
    std::unique_ptr<QMenu, DeleteLater> m_trayMenu;
};

FrmMain* frmMain();
