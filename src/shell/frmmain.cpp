#include "shell/frmmain.h"

#include "contacts/frmcontacts.h"
#include "notify/desktopnotifier.h"
#include "session/dispatcher.h"
#include "session/missedcalls.h"
#include "session/modvariables.h"
#include "session/site.h"
#include "settings/frmsettings.h"
#include "settings/modinitialize.h"
#include "shell/fonts.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/menushortcuts.h"
#include "shell/programicon.h"
#include "shell/twips.h"
#include "statistics/frmstatistics.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTime>
#include <QVBoxLayout>

namespace {

const QString DesignCaption = QStringLiteral("Quillora Client");

// Shows a modeless window, or brings it to the front when it is already open.
void showWindow(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

FrmMain* frmMain()
{
    return forms::instance<FrmMain>();
}

FrmMain::FrmMain()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    setWindowTitle(DesignCaption);
    setWindowIcon(themedProgramIcon());
    Tray1 = new Tray(this);
    Tray1->setObjectName(QStringLiteral("Tray1"));
    connect(Tray1, &Tray::MouseClick, this, &FrmMain::Tray1_MouseClick);
    buildControls();
    buildMenus();
    buildStatusBar();
    buildTrayMenu();
    m_outerSize = new OuterSize(this, OuterSize::Kind::Fixed);
    m_outerSize->setOuter(QSize(twips(WidthTwips), twips(ShortHeightTwips)));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize outer = m_outerSize->outer();
        move(screen->availableGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
    }

    m_keeper = new ConnectionKeeper(m_session, this);
    connect(m_keeper, &ConnectionKeeper::log, this, &FrmMain::txtOut);
    connect(m_keeper, &ConnectionKeeper::statusChanged, this, &FrmMain::timerConnected_Timer);
    connect(m_keeper, &ConnectionKeeper::foundDead, this, [this](int seconds) {
        giveUpConnection(QStringLiteral("No sign of the server for %1 s.").arg(seconds));
    });
    connect(m_keeper, &ConnectionKeeper::attemptTimedOut, this, [this](int seconds) {
        giveUpConnection(QStringLiteral("No answer from the server within %1 s.").arg(seconds));
    });
    // The log pane is hidden unless asked for: the tray tells, whether or not the window
    // is shown; the desktop's notifications instead when the user asked for them and they
    // get through.
    connect(m_keeper, &ConnectionKeeper::missedCalls, this, [this](qsizetype count) {
        const QString summary = missedcalls::summary(count);
        desktopnotifier::missedCalls(summary, this, [this, summary] {
            Tray1->trayIcon()->showMessage(DesignCaption, summary);
        });
    });
    connect(&m_session, &Session::dataArrived, m_keeper, &ConnectionKeeper::bytesArrived);
    connect(&m_session, &Session::keeperReplyLost, m_keeper, &ConnectionKeeper::statsReplyLost);
    connect(&m_session, &Session::stateChanged, this, &FrmMain::timerConnected_Timer);
    connect(&m_session, &Session::connected, this, &FrmMain::sckConnect_Connect);
    connect(&m_session, &Session::peerClosed, this, &FrmMain::sckConnect_Close);
    connect(&m_session, &Session::failed, this, &FrmMain::sckConnect_Error);
    connect(&m_session, &Session::keyUntrusted, this, &FrmMain::sckConnect_KeyUntrusted);
    connect(&m_session, &Session::keyChanged, this, &FrmMain::sckConnect_KeyChanged);
    connect(&m_session, &Session::messageReceived, this, &sckConnect_DataArrival);
    connect(&m_session, &Session::messageDropped, this, [this](qsizetype bytes) {
        txtOut(QStringLiteral("Dropped a message of %1 bytes: larger than 16 MiB.").arg(bytes));
    });
}

void FrmMain::Form_Load()
{
    modVariables().ClientVersion = QStringLiteral(QUILLORA_VERSION);
    modVariables().RequiredServerVersion = QStringLiteral("0.92");
    setWindowTitle(DesignCaption + QLatin1Char(' ') + modVariables().ClientVersion);
    // The tray icon stays from here to the unload, whether the window is shown or not.
    Tray1->setTrayImage(windowIcon());
    Tray1->Show(true);
    statusPanel[0]->setText(QStringLiteral("Not connected"));
    statusPanel[1]->setText(QString());
    timerConnected_Timer();
    txtOut(QStringLiteral("Applicationen started."));
    ApplyStartupSettings();
}

FrmMain::~FrmMain()
{
    forms::release(this);
}

void FrmMain::buildControls()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(5);

    lblInformation = new QLabel(
        QStringLiteral("Quillora Client will connect to the Quillora server. Please provide the "
                       "correct IP adress and port number to the server."),
        central);
    lblInformation->setObjectName(QStringLiteral("lblInformation"));
    lblInformation->setWordWrap(true);
    layout->addWidget(lblInformation);

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(4);
    const std::array<QString, 2> captions{QStringLiteral("IP Adress"), QStringLiteral("Port")};
    for (int i = 0; i < 2; ++i) {
        lblInfo[i] = new QLabel(captions[i], central);
        lblInfo[i]->setObjectName(QStringLiteral("lblInfo_%1").arg(i));
        txtDebug[i] = new QLineEdit(central);
        txtDebug[i]->setObjectName(QStringLiteral("txtDebug_%1").arg(i));
        txtDebug[i]->setFont(fixedPitchFont());
        lblInfo[i]->setBuddy(txtDebug[i]);
        fields->addWidget(lblInfo[i], i, 0);
        fields->addWidget(txtDebug[i], i, 1);
    }
    layout->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    chkDebug = new QCheckBox(QStringLiteral("View debug window"), central);
    chkDebug->setObjectName(QStringLiteral("chkDebug"));
    connect(chkDebug, &QCheckBox::clicked, this, &FrmMain::chkDebug_Click);
    buttons->addWidget(chkDebug);
    buttons->addStretch(1);
    const std::array<QString, 2> buttonCaptions{QStringLiteral("&Connect"),
                                                QStringLiteral("&Disconnect")};
    for (int i = 0; i < 2; ++i) {
        cmdConnect[i] = new QPushButton(buttonCaptions[i], central);
        cmdConnect[i]->setObjectName(QStringLiteral("cmdConnect_%1").arg(i));
        connect(cmdConnect[i], &QPushButton::clicked, this, [this, i] { cmdConnect_Click(i); });
        buttons->addWidget(cmdConnect[i]);
    }
    cmdConnect[1]->setEnabled(false);
    layout->addLayout(buttons);

    txtInput = new QPlainTextEdit(central);
    txtInput->setObjectName(QStringLiteral("txtInput"));
    txtInput->setReadOnly(true);
    txtInput->setUndoRedoEnabled(false); // a log kept for months: no second copy
    txtInput->setFont(fixedPitchFont());
    txtInput->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtInput->setVisible(false);
    layout->addWidget(txtInput, 1);
    layout->addStretch(0);

    setTabOrder(txtDebug[0], txtDebug[1]);
    setTabOrder(txtDebug[1], chkDebug);
    setTabOrder(chkDebug, cmdConnect[0]);
    setTabOrder(cmdConnect[0], cmdConnect[1]);
    setTabOrder(cmdConnect[1], txtInput);
    setCentralWidget(central);
}

void FrmMain::buildMenus()
{
    auto makeAction = [this](const char* name, const QString& caption, const QKeySequence& key) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        return action;
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    FileExit = makeAction("FileExit", QStringLiteral("E&xit"), QKeySequence(Qt::CTRL | Qt::Key_X));
    file->addAction(FileExit);
    connect(FileExit, &QAction::triggered, this, &QWidget::close);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    ToolsMinimizeToTray = makeAction("ToolsMinimizeToTray", QStringLiteral("&Minimize to tray"),
                                     QKeySequence(Qt::Key_F12));
    ToolAddEditContacts = makeAction("ToolAddEditContacts", QStringLiteral("Add/&Edit contacts"),
                                     QKeySequence(Qt::CTRL | Qt::Key_E));
    ToolsSettings = makeAction("ToolsSettings", QStringLiteral("&Settings"),
                               QKeySequence(Qt::CTRL | Qt::Key_S));
    tools->addAction(ToolsMinimizeToTray);
    tools->addAction(ToolAddEditContacts);
    tools->addSeparator()->setObjectName(QStringLiteral("ToolsSep1"));
    tools->addAction(ToolsSettings);
    connect(ToolsMinimizeToTray, &QAction::triggered, this, &FrmMain::MinimizeToTray);
    connect(ToolAddEditContacts, &QAction::triggered, this, &openContactsWindow);
    connect(ToolsSettings, &QAction::triggered, this, [] { showWindow(frmSettings()); });

    StatisticsStatistics =
        makeAction("StatisticsStatistics", QStringLiteral("S&tatistics"), QKeySequence());
    menuBar()->addAction(StatisticsStatistics);
    connect(StatisticsStatistics, &QAction::triggered, this, &showStatistics);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    HelpQuilloraHelp =
        makeAction("HelpQuilloraHelp", QStringLiteral("&Quillora Help"), QKeySequence(Qt::Key_F1));
    HelpQuilloraHelp->setEnabled(false);
    HelpHomepage = makeAction("HelpHomepage", QStringLiteral("Quillora &Homepage"),
                              QKeySequence(Qt::CTRL | Qt::Key_H));
    HelpAbout =
        makeAction("HelpAbout", QStringLiteral("&About"), QKeySequence(Qt::CTRL | Qt::Key_A));
    help->addAction(HelpQuilloraHelp);
    help->addAction(HelpHomepage);
    help->addSeparator()->setObjectName(QStringLiteral("HelpSep1"));
    help->addAction(HelpAbout);
    connect(HelpHomepage, &QAction::triggered, this, [this] { ShellOpen(site::homepage()); });
    connect(HelpAbout, &QAction::triggered, this, [] { showWindow(frmAbout()); });

    // The menu shortcuts work from every control, the text fields included.
    auto* shortcutsFirst =
        new MenuShortcutsFirst({FileExit, ToolsMinimizeToTray, ToolAddEditContacts, ToolsSettings,
                                HelpQuilloraHelp, HelpHomepage, HelpAbout},
                               this);
    for (QWidget* field : {static_cast<QWidget*>(txtDebug[0]), static_cast<QWidget*>(txtDebug[1]),
                           static_cast<QWidget*>(txtInput)})
        shortcutsFirst->watch(field);
}

void FrmMain::buildStatusBar()
{
    for (int i = 0; i < 2; ++i) {
        statusPanel[i] = new QLabel(this);
        statusPanel[i]->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i + 1));
        statusPanel[i]->setFixedWidth(twips(PanelWidthTwips));
        statusPanel[i]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        statusBar()->addWidget(statusPanel[i]);
    }
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
}

void FrmMain::txtOut(const QString& strInput)
{
    const QString line = QTime::currentTime().toString(QStringLiteral("HH:mm")) + QLatin1Char(' ') +
                         strInput + QLatin1Char('\n');
    QTextDocument* log = txtInput->document();
    QTextCursor cursor(log);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(line);
    // The newest lines stay, the oldest (at the bottom) go: a client left running for
    // months must not keep every line it ever wrote, nor a few thousand huge ones.
    if (log->blockCount() <= MaxLogLines + 1 && log->characterCount() <= MaxLogCharacters)
        return;
    QTextBlock kept = log->begin();
    int lines = 0;
    int characters = 0;
    while (kept.isValid() && lines < MaxLogLines &&
           (lines == 0 || characters + kept.length() <= MaxLogCharacters)) {
        characters += kept.length();
        ++lines;
        kept = kept.next();
    }
    if (!kept.isValid())
        return;
    cursor.setPosition(kept.position());
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

QStringList FrmMain::logLines() const
{
    QStringList lines = txtInput->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

void FrmMain::chkDebug_Click()
{
    const bool show = chkDebug->isChecked();
    txtInput->setVisible(show);
    m_outerSize->setOuterHeight(twips(show ? TallHeightTwips : ShortHeightTwips));
}

void FrmMain::MinimizeToTray()
{
    txtOut(QStringLiteral("Minimize to tray."));
    if (!Tray1->IsHosted() || !Tray1->IsVisible()) {
        // Hidden with no icon to click, the window could never come back.
        txtOut(QStringLiteral("No system tray: minimized instead."));
        setWindowState(windowState() | Qt::WindowMinimized);
        // A tray that turns up later (a panel started after the client) brings it back.
        m_minimizedForTray = true;
        return;
    }
    m_hiddenInTray = true;
    hide();
}

void FrmMain::Tray1_MouseClick(int Button)
{
    if (Button != Tray::LeftButton || !(m_hiddenInTray || m_minimizedForTray))
        return;
    restoreFromTray();
}

void FrmMain::restoreFromTray()
{
    txtOut(QStringLiteral("Maximize from tray."));
    m_hiddenInTray = false;
    m_minimizedForTray = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showWindow(this);
}

void FrmMain::bringForward()
{
    if (m_unloaded)
        return;
    if (m_hiddenInTray || m_minimizedForTray) {
        restoreFromTray();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showWindow(this);
}

void FrmMain::changeEvent(QEvent* event)
{
    // Restored by other means, the window no longer waits for the tray.
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        m_minimizedForTray = false;
    if (event->type() == QEvent::WindowStateChange && m_keeper)
        m_keeper->setCountdownSeen(isVisible() && !isMinimized());
    QMainWindow::changeEvent(event);
}

void FrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_keeper)
        m_keeper->setCountdownSeen(!isMinimized());
}

void FrmMain::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (m_keeper)
        m_keeper->setCountdownSeen(false);
}

void FrmMain::ShellOpen(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address));
}

void FrmMain::showStateInTray(bool connected)
{
    const QString status = m_keeper->trayStatusText();
    const QString tip = connected
                            ? DesignCaption
                            : DesignCaption + QStringLiteral(" - ") +
                                  (status.isEmpty() ? QStringLiteral("Not connected") : status);
    if (tip == m_trayTip)
        return;
    m_trayTip = tip;
    Tray1->setTrayToolTip(tip);
    // Greyed while not connected, so a glance at the tray tells.
    if (m_trayConnected != int(connected)) {
        m_trayConnected = int(connected);
        const QIcon icon = windowIcon();
        Tray1->setTrayImage(connected ? icon
                                      : QIcon(icon.pixmap(Tray::ImageSize, QIcon::Disabled)));
    }
    if (Tray1->IsVisible())
        Tray1->Show(true);
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    // Unload: close the connection, then every other window, then this one.
    if (!m_unloaded) {
        m_unloaded = true;
        m_keeper->stop();
        m_session.close();
        Tray1->Show(false);
        forms::release(this);
        forms::unloadAll();
    }
    event->accept();
}
