#include "statistics/frmstatistics.h"

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"
#include "shell/queuedbox.h"
#include "shell/twips.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twips(left), twips(top), std::max(0, twips(width)),
                        std::max(0, twips(height)));
}

// The platform's sans-serif font may run wider than the classic one: a captioned control
// grows to fit its caption rather than cut it.
void fitCaption(QWidget* widget)
{
    const int needed = widget->sizeHint().width();
    if (widget->width() < needed)
        widget->resize(needed, widget->height());
}

const std::array<const char*, 4> ModeCaptions{"Last calls", "Unregconized calls", "Top callers",
                                              "Contact list"};

} // namespace

FrmStatistics* frmStatistics()
{
    return forms::instance<FrmStatistics>();
}

void showStatistics()
{
    FrmStatistics* window = frmStatistics();
    window->setTimerConnectedEnabled(true);
    window->show();
    window->raise();
    window->activateWindow();
}

FrmStatistics::FrmStatistics() : QWidget(nullptr, Qt::Window)
{
    setObjectName(QStringLiteral("frmStatistics"));
    setWindowTitle(QStringLiteral("Quillora Client [Statistics]"));
    QFont font = QGuiApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    setFont(font);
    resize(twips(DesignWidthTwips), twips(DesignHeightTwips));
    m_outerSize = new OuterSize(this, OuterSize::Kind::Resizable);

    buildFrame();

    MSFlexGrid1 = new StatsGrid(this);
    MSFlexGrid1->setObjectName(QStringLiteral("MSFlexGrid1"));
    place(MSFlexGrid1, 120, 2160, 9255, 3615);

    cmdButton = new QPushButton(QStringLiteral("Close"), this);
    cmdButton->setObjectName(QStringLiteral("cmdButton"));
    place(cmdButton, 7680, 5880, 1455, 375);
    fitCaption(cmdButton);
    connect(cmdButton, &QPushButton::clicked, this, &FrmStatistics::cmdButton_Click);

    timerStats = new QTimer(this);
    timerStats->setObjectName(QStringLiteral("timerStats"));
    timerStats->setInterval(TickMilliseconds);
    connect(timerStats, &QTimer::timeout, this, &FrmStatistics::timerStats_Timer);

    QWidget* order[] = {optStatMode[0], optStatMode[1], optStatMode[2], optStatMode[3], cmbRecords,
                        chkResize,      cmdQuery,       MSFlexGrid1,    cmdButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void FrmStatistics::buildFrame()
{
    Frame1 = new QGroupBox(QStringLiteral("Statistic mode"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    place(Frame1, 120, 120, 9255, 1935);

    for (int i = 0; i < 4; ++i) {
        optStatMode[i] = new QRadioButton(QLatin1String(ModeCaptions[i]), Frame1);
        optStatMode[i]->setObjectName(QStringLiteral("optStatMode_%1").arg(i));
        place(optStatMode[i], 120, 360 + 360 * i, 1815, 255);
        fitCaption(optStatMode[i]);
    }
    optStatMode[0]->setChecked(true);

    cmbRecords = new QComboBox(Frame1);
    cmbRecords->setObjectName(QStringLiteral("cmbRecords"));
    cmbRecords->setEditable(true);
    cmbRecords->setInsertPolicy(QComboBox::NoInsert); // typing never adds to the list
    cmbRecords->setCompleter(nullptr);                // the typed text is sent as typed
    cmbRecords->setEditText(QStringLiteral("10"));
    place(cmbRecords, 3120, 720, 975, 315);

    Label1 = new QLabel(QStringLiteral("records "), Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 4200, 840, 855, 255);
    fitCaption(Label1);

    chkResize = new QCheckBox(QStringLiteral("On query resize"), Frame1);
    chkResize->setObjectName(QStringLiteral("chkResize"));
    chkResize->setChecked(true);
    place(chkResize, 4920, 240, 1575, 315);
    fitCaption(chkResize);

    cmdQuery = new QPushButton(QStringLiteral("Query statistic"), Frame1);
    cmdQuery->setObjectName(QStringLiteral("cmdQuery"));
    place(cmdQuery, 4920, 1440, 1575, 285);
    fitCaption(cmdQuery);
    connect(cmdQuery, &QPushButton::clicked, this, &FrmStatistics::cmdQuery_Click);

    // A bracket gathering the first three options and pointing at the record count,
    // which the contact list does not use.
    Line2[1] = makeLine("Line2_1", 2040, 360, 2520, 360);
    Line2[0] = makeLine("Line2_0", 2040, 1320, 2520, 1320);
    Line1 = makeLine("Line1", 2520, 360, 2520, 1320);
    Line2[2] = makeLine("Line2_2", 2520, 840, 3000, 840);
    // Options grown for their captions keep clear of the bracket: its arms start later.
    int optionsRight = 0;
    for (const QRadioButton* option : optStatMode)
        optionsRight = std::max(optionsRight, option->geometry().right());
    const int armLeft = std::min(std::max(Line2[1]->x(), optionsRight + 5), Line1->x() - 4);
    for (QFrame* arm : {Line2[0], Line2[1]})
        arm->setGeometry(armLeft, arm->y(), Line1->x() - armLeft + 1, arm->height());
}

QFrame* FrmStatistics::makeLine(const char* name, int x1, int y1, int x2, int y2)
{
    auto* line = new QFrame(Frame1);
    line->setObjectName(QLatin1String(name));
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    line->setBackgroundRole(QPalette::WindowText);
    line->setGeometry(twips(x1), twips(y1), twips(x2 - x1) + 1, twips(y2 - y1) + 1);
    return line;
}

FrmStatistics::~FrmStatistics()
{
    forms::release(this);
    // A large reply's grid goes first, and the C library then hands what it freed back
    // to the system: glibc keeps freed heap memory for reuse, resident, otherwise.
    delete MSFlexGrid1;
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void FrmStatistics::Form_Load()
{
    setWindowWidth(LoadWidthTwips);
    const int width = windowWidth();
    const int height = windowHeight();
    cmdButton->move(twips(width - 1750), twips(height - 1200));
    place(MSFlexGrid1, 120, 2160, width - 390, height - 3660);
    for (int count = 10; count <= 100; count += 10)
        cmbRecords->addItem(QString::number(count));
    cmbRecords->setEditText(QStringLiteral("10"));
    Frame1->resize(std::max(0, twips(width - 390)), Frame1->height());
}

void FrmStatistics::Form_Resize()
{
    const int width = windowWidth();
    const int height = windowHeight();
    cmdButton->move(twips(width - 1750), twips(height - 1200));
    const int gridHeight =
        height > MinGridWindowHeightTwips ? twips(height - 3660) : MSFlexGrid1->height();
    MSFlexGrid1->setGeometry(twips(120), twips(2160), std::max(0, twips(width - 390)),
                             std::max(0, gridHeight));
    Frame1->resize(std::max(0, twips(width - 390)), Frame1->height());
}

int FrmStatistics::windowWidth() const
{
    return toTwips(m_outerSize->outer().width());
}

int FrmStatistics::windowHeight() const
{
    return toTwips(m_outerSize->outer().height());
}

void FrmStatistics::setWindowWidth(int widthTwips)
{
    m_outerSize->setOuterWidth(twips(widthTwips));
    // A hidden window gets its resize event only when shown; lay out now.
    Form_Resize();
}

void FrmStatistics::setWindowHeight(int heightTwips)
{
    m_outerSize->setOuterHeight(twips(heightTwips));
    Form_Resize();
}

void FrmStatistics::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void FrmStatistics::cmdButton_Click()
{
    timerStats->stop();
    modVariables().StatsReply.clear();
    close();
}

void FrmStatistics::closeEvent(QCloseEvent* event)
{
    // Unloading ends a running query and the connection watch; the mailbox is left, but
    // replies to this window's queries that come later are not wanted in it.
    timerStats->stop();
    if (FrmMain* main = forms::loadedOrNull<FrmMain>())
        main->sckConnect().statsWindowGaveUp();
    setTimerConnectedEnabled(false);
    forms::release(this);
    QWidget::closeEvent(event);
}

void FrmStatistics::setTimerConnectedEnabled(bool enabled)
{
    if (enabled && !m_watching) {
        m_watch = connect(&frmMain()->sckConnect(), &Session::stateChanged, this,
                          &FrmStatistics::timerConnected_Timer, Qt::QueuedConnection);
    } else if (!enabled && m_watching) {
        disconnect(m_watch);
    }
    m_watching = enabled;
    if (enabled)
        QMetaObject::invokeMethod(this, &FrmStatistics::timerConnected_Timer, Qt::QueuedConnection);
}

void FrmStatistics::timerConnected_Timer()
{
    if (!m_watching)
        return;
    FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (main && main->sckConnect().isConnected())
        return;
    setTimerConnectedEnabled(false);
    close();
    queueMsgBox(QStringLiteral("You are currently not connected."), vbInformation,
                QStringLiteral("Statistics."));
}
