// The contacts window as a view: its controls and their design state, loading and
// unloading, the connection watch, the Close button and the error report.

#include "contacts/frmcontacts.h"

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>
#include <limits>

namespace {

const QString WindowTitle = QStringLiteral("Add/Edit contacts");
// The connection watch and the error report use the title with a final full stop.
const QString BoxTitle = QStringLiteral("Add/Edit contacts.");

const std::array<const char*, contacts::SearchFieldCount> SearchCaptions{
    "All fields", "Name", "Home phone", "Mobile phone", "E-Mail", "Business phone", "Business fax"};
const std::array<const char*, 7> ContactCaptions{
    "Database ID:", "Name:",           "Home phone:",  "Mobile phone:",
    "E-Mail:",      "Business phone:", "Business fax:"};
const std::array<const char*, 6> ContactButtonCaptions{"New contact", "Save",   "< Back",
                                                       "Next >",      "Cancel", "Edit"};

QString indexedName(const char* name, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    // Return in a text box must not press a button behind the user's back.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// A single-line box without the toolkit's default 32,767-character cut, which would
// silently shorten a long field and save the shortened value.
QLineEdit* makeBox(const QString& name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

} // namespace

FrmContacts* frmContacts()
{
    return forms::instance<FrmContacts>();
}

void openContactsWindow()
{
    modVariables().ContactRecords = contacts::RecordList{contacts::NewRecord};
    FrmContacts* window = frmContacts();
    window->show();
    window->raise();
    window->activateWindow();
}

FrmContacts::FrmContacts()
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmContacts"));
    setWindowTitle(WindowTitle);
    setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    buildSearchFrame();
    buildContactFrame();
    layout->addWidget(frameSearch);
    layout->addWidget(frameContact, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    cmdButton[0] = makeButton(QStringLiteral("Close"), indexedName("cmdButton", 0), this);
    cmdButton[0]->setMinimumWidth(90);
    connect(cmdButton[0], &QPushButton::clicked, this, [this] { cmdButton_Click(0); });
    bottom->addWidget(cmdButton[0]);
    layout->addLayout(bottom);

    setTabOrder(txtSearch, cmdSearch);
    txtSearch->setFocus();
    setFixedSize(sizeHint());
}

void FrmContacts::buildSearchFrame()
{
    frameSearch = new QGroupBox(QStringLiteral("Search contact"), this);
    frameSearch->setObjectName(QStringLiteral("frameSearch"));
    auto* layout = new QVBoxLayout(frameSearch);
    layout->setSpacing(6);

    auto* options = new QHBoxLayout;
    options->setSpacing(12);
    for (int i = 0; i < contacts::SearchFieldCount; ++i) {
        optSearch[i] = new QRadioButton(QLatin1String(SearchCaptions[i]), frameSearch);
        optSearch[i]->setObjectName(indexedName("optSearch", i));
        options->addWidget(optSearch[i]);
    }
    options->addStretch(1);
    optSearch[0]->setChecked(true);
    layout->addLayout(options);

    auto* row = new QHBoxLayout;
    lblSearch = new QLabel(QStringLiteral("Search:"), frameSearch);
    lblSearch->setObjectName(QStringLiteral("lblSearch"));
    txtSearch = makeBox(QStringLiteral("txtSearch"), frameSearch);
    lblSearch->setBuddy(txtSearch);
    cmdSearch = makeButton(QStringLiteral("Search"), QStringLiteral("cmdSearch"), frameSearch);
    cmdSearch->setMinimumWidth(90);
    connect(cmdSearch, &QPushButton::clicked, this, &FrmContacts::cmdSearch_Click);
    row->addWidget(lblSearch);
    row->addWidget(txtSearch, 1);
    row->addWidget(cmdSearch);
    layout->addLayout(row);
}

void FrmContacts::buildContactFrame()
{
    frameContact = new QGroupBox(QStringLiteral("Contact information"), this);
    frameContact->setObjectName(QStringLiteral("frameContact"));
    auto* grid = new QGridLayout(frameContact);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(5);

    // Captions in a left column, the ID and the six boxes beside them.
    for (int i = 0; i < 7; ++i) {
        lblContact[i] = new QLabel(QLatin1String(ContactCaptions[i]), frameContact);
        lblContact[i]->setObjectName(indexedName("lblContact", i));
        grid->addWidget(lblContact[i], i, 0);
    }
    lblInput[0] = new QLabel(frameContact);
    lblInput[0]->setObjectName(indexedName("lblInput", 0));
    lblInput[0]->setTextFormat(Qt::PlainText);
    lblInput[0]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(lblInput[0], 0, 1, 1, 2);
    for (int i = 0; i < contacts::FieldCount; ++i) {
        txtInput[i] = makeBox(indexedName("txtInput", i), frameContact);
        txtInput[i]->setEnabled(false);
        // Browse mode shows the record in disabled boxes: keep it easy to read.
        QPalette palette = txtInput[i]->palette();
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(48, 48, 48));
        txtInput[i]->setPalette(palette);
        lblContact[i + 1]->setBuddy(txtInput[i]);
        txtInput[i]->setMinimumWidth(i == 0 ? 380 : 180);
    }
    // The Name box is the wide one; the information frame sits under its right part.
    grid->addWidget(txtInput[0], 1, 1, 1, 2);
    for (int i = 1; i < contacts::FieldCount; ++i)
        grid->addWidget(txtInput[i], i + 1, 1);

    frameInfo = new QGroupBox(QStringLiteral("Information"), frameContact);
    frameInfo->setObjectName(QStringLiteral("frameInfo"));
    frameInfo->setMinimumWidth(190);
    auto* infoLayout = new QVBoxLayout(frameInfo);
    lblInput[1] = new QLabel(QStringLiteral("No information to show."), frameInfo);
    lblInput[1]->setObjectName(indexedName("lblInput", 1));
    lblInput[1]->setTextFormat(Qt::PlainText);
    lblInput[1]->setWordWrap(true);
    lblInput[1]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    infoLayout->addWidget(lblInput[1], 1);
    grid->addWidget(frameInfo, 2, 2, 5, 1);

    for (int i = 0; i < 6; ++i) {
        cmdContact[i] = makeButton(QLatin1String(ContactButtonCaptions[i]),
                                   indexedName("cmdContact", i), frameContact);
        cmdContact[i]->setEnabled(i == NewContact);
        connect(cmdContact[i], &QPushButton::clicked, this, [this, i] { cmdContact_Click(i); });
    }
    // New contact and Edit at the top right, Cancel and Save below Edit, Back and Next at
    // the bottom right.
    grid->addWidget(cmdContact[NewContact], 0, 3, 1, 2);
    grid->addWidget(cmdContact[Edit], 1, 3, 1, 2);
    grid->addWidget(cmdContact[Cancel], 2, 3, 1, 2);
    grid->addWidget(cmdContact[Save], 3, 3, 1, 2);
    grid->addWidget(cmdContact[Back], 6, 3);
    grid->addWidget(cmdContact[Next], 6, 4);
    grid->setColumnMinimumWidth(3, 80);
    grid->setColumnMinimumWidth(4, 80);
    grid->setColumnStretch(2, 1);
}

FrmContacts::~FrmContacts()
{
    forms::release(this);
}

void FrmContacts::Form_Load()
{
    m_watchEnabled = true;
    // Queued: the watch acts like a timer tick, never inside the socket's own signal or
    // the main window's unload (which closes the socket before it unloads this window).
    connect(&frmMain()->sckConnect(), &Session::stateChanged, this,
            &FrmContacts::timer_Contacts_Timer, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &FrmContacts::timer_Contacts_Timer, Qt::QueuedConnection);
}

void FrmContacts::Form_Unload()
{
    m_watchEnabled = false;
}

bool FrmContacts::connectedNow() const
{
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    return main && main->sckConnect().isConnected();
}

QString FrmContacts::currentServer() const
{
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (!main || !main->sckConnect().isConnected())
        return QString();
    return main->sckConnect().peerAddress() + QLatin1Char(':') +
           QString::number(main->sckConnect().peerPort());
}

void FrmContacts::timer_Contacts_Timer()
{
    if (!m_watchEnabled)
        return;
    if (connectedNow()) {
        m_toldNotConnected = false;
        return;
    }
    if (inEditMode() && forms::loadedOrNull<FrmMain>()) {
        // Closing would throw away what the user is typing: tell once, and let Save wait
        // for the connection to come back.
        m_keptThroughOutage = true;
        if (!m_toldNotConnected) {
            m_toldNotConnected = true;
            tellNotConnected();
        }
        return;
    }
    m_watchEnabled = false;
    close();
    tellNotConnected();
}

void FrmContacts::tellNotConnected()
{
    MsgBox(QStringLiteral("You are currently not connected."), vbInformation, BoxTitle);
}

void FrmContacts::cmdButton_Click(int index)
{
    Q_UNUSED(index)
    close();
}

void FrmContacts::showErrorReport(const QString& description, const QString& source)
{
    // The box runs its own event loop: the window may be closed and deleted meanwhile.
    QPointer<FrmContacts> self(this);
    MsgBox(contacts::errorReport(description, source), vbInformation, BoxTitle);
    if (self)
        self->close();
}

bool FrmContacts::sendOrReport(const QString& request)
{
    FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (main && main->sckConnect().send(request))
        return true;
    showErrorReport(main && main->sckConnect().isConnected()
                        ? QStringLiteral("The request could not be written to the connection.")
                        : QStringLiteral("The connection to the server is closed."),
                    QStringLiteral("sckConnect"));
    return false;
}

void FrmContacts::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    forms::release(this);
    // Not the dialog's own handling, which would reject instead of closing.
    QWidget::closeEvent(event);
}
