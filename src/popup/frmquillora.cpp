#include "popup/frmquillora.h"

#include "popup/callactions.h"
#include "popup/countdown.h"
#include "popup/elidedlabel.h"
#include "session/modvariables.h"
#include "settings/settingsstore.h"
#include "shell/fonts.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/platformchoice.h"
#include "shell/twips.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTime>

namespace {

const QColor GradientStart(1, 196, 254);
const QColor GradientEnd(14, 146, 235);
const QColor WindowGrey(192, 192, 192);

const std::array<const char*, 6> UserInfoCaptions{"Name", "Home phone", "Mobile phone",
                                                  "Work", "Work / Fax", "E-mail"};

} // namespace

FrmQuillora* frmQuillora()
{
    return forms::instance<FrmQuillora>();
}

FrmQuillora::FrmQuillora()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool)
{
    // Under XWayland the pop-up goes around the X window manager (see onXWayland()).
    if (onXWayland())
        setWindowFlag(Qt::X11BypassWindowManagerHint);
    setObjectName(QStringLiteral("frmQuillora"));
    setWindowTitle(QStringLiteral("Incoming call"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(twips(WidthTwips), twips(HeightTwips));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, WindowGrey);
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);

    const int w = WidthTwips;
    lblHeadline = makeLabel("lblHeadline", QStringLiteral("Incoming call"), 0, 120, w, 615, 24,
                            true, Qt::AlignHCenter | Qt::AlignTop);
    lblNail = makeLabel("lblNail", QStringLiteral("X"), 4080, 120, 495, 375, 13.5, false,
                        Qt::AlignHCenter | Qt::AlignTop);
    lblNail->setCursor(Qt::PointingHandCursor);
    lblNail->installEventFilter(this);
    lblTimeOfCall = makeLabel("lblTimeOfCall", QStringLiteral("00:00"), 4080, 720, 495, 255, 8.25,
                              false, Qt::AlignHCenter | Qt::AlignTop);
    lblNumberCalling = makeLabel("lblNumberCalling", QStringLiteral("Unknown"), 0, 960, w, 375, 18,
                                 true, Qt::AlignHCenter | Qt::AlignTop);
    for (int i = 0; i < 6; ++i) {
        const int top = 1440 + 360 * i;
        lblUserInfo[i] = makeLabel(QStringLiteral("lblUserInfo_%1").arg(i).toLatin1().constData(),
                                   QLatin1String(UserInfoCaptions[i]), 240, top, 1455, 375, 9.75,
                                   true, Qt::AlignLeft | Qt::AlignTop);
        lblIncoming[i] = makeLabel(QStringLiteral("lblIncoming_%1").arg(i).toLatin1().constData(),
                                   QStringLiteral("No data"), 1800, top, 2775, 375, 9.75, true,
                                   Qt::AlignLeft | Qt::AlignTop);
    }
    lblCount = makeLabel("lblCount", QString(), 4080, 3600, 495, 255, 8.25, true,
                         Qt::AlignRight | Qt::AlignTop);

    CopyNumber = new QAction(QStringLiteral("&Copy number"), this);
    CopyNumber->setObjectName(QStringLiteral("CopyNumber"));
    CopyNumber->setShortcut(QKeySequence::Copy);
    CopyNumber->setShortcutContext(Qt::WindowShortcut);
    connect(CopyNumber, &QAction::triggered, this, &FrmQuillora::copyNumber);
    addAction(CopyNumber);

    timerPopUp = new QTimer(this);
    timerPopUp->setObjectName(QStringLiteral("timerPopUp"));
    connect(timerPopUp, &QTimer::timeout, this, &FrmQuillora::timerPopUp_Timer);
}

FrmQuillora::~FrmQuillora()
{
    forms::release(this);
}

QLabel* FrmQuillora::makeLabel(const char* name, const QString& text, int left, int top, int width,
                               int height, qreal pointSize, bool bold, Qt::Alignment alignment)
{
    auto* label = new ElidedLabel(text, this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(twips(left), twips(top), twips(width), twips(height));
    label->setFont(designFont(pointSize, bold));
    label->setAlignment(alignment);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAutoFillBackground(false);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void FrmQuillora::Form_Load()
{
    // Topmost comes from the window flags; the rest in the classic order.
    fitControls();
    placeOnScreen();
    lblTimeOfCall->setText(QTime::currentTime().toString(QStringLiteral("HH:mm")));
    lblCount->hide();
    setUpCountdown();
}

void FrmQuillora::fitControls()
{
    lblHeadline->setFixedWidth(width());
    lblNumberCalling->setFixedWidth(width());
    update();
}

void FrmQuillora::placeOnScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The work area: clear of the taskbar and of panels the desktop keeps at the edges.
    const QRect area = screen->availableGeometry();
    move(area.x() + area.width() - width() - twips(RightMarginTwips), area.y() + twips(TopTwips));
}

void FrmQuillora::setUpCountdown()
{
    if (!SettingsStore::isOn(GetSetting(SettingsStore::ClientPopUpClose)))
        return;
    setTimer(true, 0);
    const int seconds = countdown::secondsFor(GetSetting(SettingsStore::ClientPopUpCloseTime));
    if (seconds == countdown::None)
        return;
    setTimer(true, 1000);
    modVariables().PopUpSecondsLeft = seconds;
    lblCount->show();
    lblCount->setText(QString::number(seconds));
}

void FrmQuillora::setTimer(bool enabled, int interval)
{
    m_timerEnabled = enabled;
    m_timerInterval = interval;
    // An interval of 0 never fires.
    if (enabled && interval > 0)
        timerPopUp->start(interval);
    else
        timerPopUp->stop();
}

void FrmQuillora::showPopUp()
{
    show();
    raise();
}

void FrmQuillora::timerPopUp_Timer()
{
    int& left = modVariables().PopUpSecondsLeft;
    if (left != 0) {
        --left;
        lblCount->setText(QString::number(left));
        return;
    }
    lblCount->hide();
    setTimer(false, 0);
    close();
}

void FrmQuillora::lblNail_Click()
{
    lblCount->hide();
    setTimer(false, m_timerInterval);
    close();
}

void FrmQuillora::copyNumber()
{
    if (callactions::hasNumber(lblNumberCalling->text()))
        callactions::copyNumber(lblNumberCalling->text());
}

void FrmQuillora::findInContacts()
{
    const QString number = lblNumberCalling->text();
    if (callactions::hasNumber(number))
        callactions::findInContacts(number, callactions::searchOptionFor(number, shownDetails()));
}

std::array<QString, 6> FrmQuillora::shownDetails() const
{
    std::array<QString, 6> details;
    for (std::size_t i = 0; i < details.size(); ++i)
        details[i] = lblIncoming[i]->text();
    return details;
}

void FrmQuillora::contextMenuEvent(QContextMenuEvent* event)
{
    // Not run in a loop of its own: the countdown may close this window while the menu is
    // open, so the menu's actions take what they need when they run, not this window.
    auto* menu = new QMenu;
    menu->setObjectName(QStringLiteral("mnuPopUp"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString number = lblNumberCalling->text();
    const int option = callactions::searchOptionFor(number, shownDetails());
    const bool hasNumber = callactions::hasNumber(number);
    QAction* copy =
        menu->addAction(CopyNumber->text(), [number] { callactions::copyNumber(number); });
    copy->setShortcut(CopyNumber->shortcut());
    copy->setEnabled(hasNumber);
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    QAction* find = menu->addAction(QStringLiteral("&Find in contacts"), [number, option] {
        callactions::findInContacts(number, option);
    });
    find->setEnabled(hasNumber && main && main->sckConnect().isConnected());
    menu->popup(event->globalPos());
}

bool FrmQuillora::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblNail && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            lblNail->rect().contains(mouse->position().toPoint())) {
            lblNail_Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmQuillora::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, GradientStart);
    gradient.setColorAt(1.0, GradientEnd);
    painter.fillRect(rect(), gradient);
    painter.setPen(QPen(Qt::black, 1));
    const int y = twips(720);
    painter.drawLine(twips(120), y, width() - twips(120), y);
}

void FrmQuillora::closeEvent(QCloseEvent* event)
{
    timerPopUp->stop();
    forms::release(this);
    QWidget::closeEvent(event);
}
