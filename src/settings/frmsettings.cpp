#include "settings/frmsettings.h"

#include "settings/autostart.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/msgbox.h"
#include "shell/programicon.h"
#include "shell/twips.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <utility>

namespace {

const QString Title = QStringLiteral("Settings");

const QString DefaultHost = QStringLiteral("127.0.0.1");
const QString DefaultPort = QStringLiteral("6996");
const QString DefaultPopUpSeconds = QStringLiteral("30");
const QString DefaultReconnectAttempts = QStringLiteral("5");

// Grid columns: caption, check box or start of a wide box, small box, unit label.
enum Column { CaptionColumn = 0, CheckColumn = 1, SmallBoxColumn = 2, UnitColumn = 3 };
constexpr int InputSpan = 3;

QString storedOr(const QString& key, const QString& fallback)
{
    const QString value = GetSetting(key);
    return value.isEmpty() ? fallback : value;
}

QString flagText(const QCheckBox* box)
{
    return box->checkState() == Qt::Unchecked ? QStringLiteral("False") : QStringLiteral("True");
}

} // namespace

FrmSettings* frmSettings()
{
    return forms::instance<FrmSettings>();
}

FrmSettings::FrmSettings() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Quillora Client [Settings]"));
    setWindowIcon(themedProgramIcon());
    buildControls();
}

FrmSettings::~FrmSettings()
{
    forms::release(this);
}

void FrmSettings::buildControls()
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(twips(120), twips(120), twips(120), twips(120));
    grid->setHorizontalSpacing(twips(120));
    grid->setVerticalSpacing(twips(60));

    auto label = [this](const char* name, const QString& text) {
        auto* result = new QLabel(text, this);
        result->setObjectName(QLatin1String(name));
        result->setTextFormat(Qt::PlainText);
        return result;
    };
    auto textBox = [this](int index, int widthTwips) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("txtDebug_%1").arg(index));
        box->setFixedWidth(twips(widthTwips));
        box->setMinimumHeight(twips(285));
        txtDebug[index] = box;
        return box;
    };
    auto checkBox = [this](int index) {
        // A bare box: the row's caption label says what it means.
        auto* box = new QCheckBox(this);
        box->setObjectName(QStringLiteral("chkDebug_%1").arg(index));
        connect(box, &QCheckBox::toggled, this, [this, index] { chkDebug_Click(index); });
        chkDebug[index] = box;
        return box;
    };
    auto caption = [this, &label](int index, const QString& text) {
        lblInfo[index] =
            label(QStringLiteral("lblInfo_%1").arg(index).toLatin1().constData(), text);
        return lblInfo[index];
    };
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;

    lblInformation = label("lblInformation",
                           QStringLiteral("Please enter the default settings. You need to restart "
                                          "the application before the changes will take action."));
    lblInformation->setWordWrap(true);
    lblInformation->setMinimumWidth(twips(4095));
    grid->addWidget(lblInformation, 0, CaptionColumn, 1, 1 + InputSpan);
    grid->setRowMinimumHeight(0, twips(600));

    int row = 1;
    grid->addWidget(caption(2, QStringLiteral("Quillora Server IP")), row, CaptionColumn);
    grid->addWidget(textBox(1, 1455), row++, CheckColumn, 1, InputSpan, left);

    grid->addWidget(caption(0, QStringLiteral("Enter default port:")), row, CaptionColumn);
    grid->addWidget(textBox(0, 615), row++, CheckColumn, 1, InputSpan, left);

    grid->addWidget(caption(1, QStringLiteral("Auto connect at startup:")), row, CaptionColumn);
    grid->addWidget(checkBox(0), row++, CheckColumn, left);

    grid->addWidget(caption(3, QStringLiteral("Auto close pop-window")), row, CaptionColumn);
    grid->addWidget(checkBox(1), row, CheckColumn, left);
    grid->addWidget(textBox(2, 615), row, SmallBoxColumn, left);
    grid->addWidget(caption(4, QStringLiteral("seconds.")), row++, UnitColumn, left);

    grid->addWidget(caption(7, QStringLiteral("Reconnect")), row, CaptionColumn);
    grid->addWidget(checkBox(3), row, CheckColumn, left);
    grid->addWidget(textBox(4, 615), row, SmallBoxColumn, left);
    grid->addWidget(caption(8, QStringLiteral("attempts.")), row++, UnitColumn, left);

    grid->addWidget(caption(5, QStringLiteral("Password")), row, CaptionColumn);
    grid->addWidget(textBox(3, 2055), row++, CheckColumn, 1, InputSpan, left);
    txtDebug[3]->setEchoMode(QLineEdit::Password);
    // Every character of the password shows as "*", whatever the style's own mask.
    txtDebug[3]->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));

    lblNote = label("lblNote", QStringLiteral("Note: Password in saved as plain text."));
    lblNote->setWordWrap(true);
    lblNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(lblNote, row, CheckColumn, 1, InputSpan);
    grid->setRowMinimumHeight(row++, twips(480));

    grid->addWidget(caption(9, QStringLiteral("Use TLS")), row, CaptionColumn);
    grid->addWidget(checkBox(4), row++, CheckColumn, left);

    grid->addWidget(caption(6, QStringLiteral("Start minimized")), row, CaptionColumn);
    grid->addWidget(checkBox(2), row++, CheckColumn, left);

    // Wrapped rather than widening the caption column, which would move the boxes above.
    grid->addWidget(caption(10, QStringLiteral("Also notify through the desktop")), row,
                    CaptionColumn);
    lblInfo[10]->setWordWrap(true);
    grid->addWidget(checkBox(5), row++, CheckColumn, left);

    grid->addWidget(caption(11, QStringLiteral("Ring sound")), row, CaptionColumn);
    grid->addWidget(checkBox(6), row++, CheckColumn, left);

    grid->addWidget(caption(12, QStringLiteral("Start at login")), row, CaptionColumn);
    grid->addWidget(checkBox(7), row++, CheckColumn, left);

    const std::array<QString, 2> buttonCaptions{QStringLiteral("Cancel"), QStringLiteral("Ok")};
    for (int i = 0; i < 2; ++i) {
        cmdButton[i] = new QPushButton(buttonCaptions[i], this);
        cmdButton[i]->setObjectName(QStringLiteral("cmdButton_%1").arg(i));
        // Neither Enter nor Esc presses a button here.
        cmdButton[i]->setAutoDefault(false);
        cmdButton[i]->setMinimumSize(twips(1455), twips(375));
        connect(cmdButton[i], &QPushButton::clicked, this, [this, i] { cmdButton_Click(i); });
    }
    grid->setRowMinimumHeight(row, twips(600));
    grid->addWidget(cmdButton[0], row, CaptionColumn, Qt::AlignLeft | Qt::AlignBottom);
    grid->addWidget(cmdButton[1], row++, CheckColumn, 1, InputSpan,
                    Qt::AlignRight | Qt::AlignBottom);

    // Rows of the design's even pitch; spare room goes below and to the right, so the
    // controls keep their places when the window is resized.
    for (int r = 1; r < row - 1; ++r)
        grid->setRowMinimumHeight(r, qMax(grid->rowMinimumHeight(r), twips(420)));
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(UnitColumn + 1, 1);

    const std::array<QWidget*, 15> focusOrder{txtDebug[1],  txtDebug[0], chkDebug[0], chkDebug[1],
                                              txtDebug[2],  txtDebug[3], chkDebug[4], chkDebug[2],
                                              chkDebug[5],  chkDebug[6], chkDebug[7], cmdButton[0],
                                              cmdButton[1], chkDebug[3], txtDebug[4]};
    for (std::size_t i = 1; i < focusOrder.size(); ++i)
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
}

void FrmSettings::Form_Load()
{
    txtDebug[1]->setText(storedOr(SettingsStore::ClientServerIP, DefaultHost));
    txtDebug[0]->setText(storedOr(SettingsStore::ClientPort, DefaultPort));
    txtDebug[3]->setText(GetSetting(SettingsStore::ClientServerPassword));
    chkDebug[0]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientAutoStart)));
    chkDebug[1]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientPopUpClose)));
    txtDebug[2]->setEnabled(chkDebug[1]->isChecked());
    txtDebug[2]->setText(storedOr(SettingsStore::ClientPopUpCloseTime, DefaultPopUpSeconds));
    chkDebug[3]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientReconnect)));
    txtDebug[4]->setEnabled(chkDebug[3]->isChecked());
    txtDebug[4]->setText(storedOr(SettingsStore::ClientReconnectAttemps, DefaultReconnectAttempts));
    chkDebug[2]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientMinimized)));
    chkDebug[4]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientTls)));
    chkDebug[5]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientDesktopNotify)));
    chkDebug[6]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientRingSound)));
    chkDebug[7]->setChecked(SettingsStore::isOn(GetSetting(SettingsStore::ClientStartAtLogin)));
    m_tlsToggled = false;

    // At least the design's client area, larger where the fonts need more room; centred.
    const QSize hint = sizeHint();
    resize(qMax(twips(WidthTwips), hint.width()), qMax(twips(HeightTwips), hint.height()));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void FrmSettings::chkDebug_Click(int Index)
{
    if (Index == 1)
        txtDebug[2]->setEnabled(chkDebug[1]->checkState() != Qt::Unchecked);
    else if (Index == 3)
        txtDebug[4]->setEnabled(chkDebug[3]->checkState() != Qt::Unchecked);
    else if (Index == 4)
        m_tlsToggled = true;
}

void FrmSettings::cmdButton_Click(int Index)
{
    if (Index == 0) {
        close();
        return;
    }
    if (Index != 1)
        return;
    const QString password = txtDebug[3]->text();
    if (!password.isEmpty() && password.length() <= LongestRefusedPassword) {
        MsgBox(QStringLiteral("Your password must be more than 8 characters long."), vbInformation,
               Title);
        return;
    }
    if (!saveSettings()) {
        // The box runs its own event loop, in which the client may unload this window.
        const QPointer<FrmSettings> self(this);
        MsgBox(QStringLiteral("The changes could not be saved."), vbExclamation, Title);
        if (!self)
            return;
    }
    close();
}

bool FrmSettings::saveSettings()
{
    // Turning TLS off, or off and on again, forgets the key trusted for the server.
    if (m_tlsToggled && (!SaveSetting(SettingsStore::ClientTlsPin, QString()) ||
                         !SaveSetting(SettingsStore::ClientTlsPinServer, QString())))
        return false;
    const std::array<std::pair<QString, QString>, 13> writes{{
        {SettingsStore::ClientServerIP, txtDebug[1]->text()},
        {SettingsStore::ClientPort, txtDebug[0]->text()},
        {SettingsStore::ClientServerPassword, txtDebug[3]->text()},
        {SettingsStore::ClientAutoStart, flagText(chkDebug[0])},
        {SettingsStore::ClientPopUpClose, flagText(chkDebug[1])},
        {SettingsStore::ClientPopUpCloseTime, txtDebug[2]->text()},
        {SettingsStore::ClientReconnect, flagText(chkDebug[3])},
        {SettingsStore::ClientReconnectAttemps, txtDebug[4]->text()},
        {SettingsStore::ClientMinimized, flagText(chkDebug[2])},
        {SettingsStore::ClientTls, flagText(chkDebug[4])},
        {SettingsStore::ClientDesktopNotify, flagText(chkDebug[5])},
        {SettingsStore::ClientRingSound, flagText(chkDebug[6])},
        {SettingsStore::ClientStartAtLogin, flagText(chkDebug[7])},
    }};
    for (const auto& [key, value] : writes) {
        if (!SaveSetting(key, value))
            return false;
    }
    // An entry that could not be written or removed is told now, while the user can act on
    // it, not found out at the next login.
    return autostart::sync(chkDebug[7]->isChecked());
}

void FrmSettings::closeEvent(QCloseEvent* event)
{
    // Closing by the title bar is "Cancel": nothing is saved.
    forms::release(this);
    QWidget::closeEvent(event);
}
