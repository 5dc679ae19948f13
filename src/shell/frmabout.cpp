#include "shell/frmabout.h"

#include "session/site.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/programicon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QStringList>
#include <QVBoxLayout>

FrmAbout* frmAbout()
{
    return forms::instance<FrmAbout>();
}

FrmAbout::FrmAbout()
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Quillora Client [About]"));
    setWindowIcon(themedProgramIcon());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);

    Frame1 = new QGroupBox(QStringLiteral("About"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* frameLayout = new QVBoxLayout(Frame1);
    frameLayout->setContentsMargins(16, 12, 16, 16);
    frameLayout->setSpacing(12);

    lblTitle = new QLabel(Frame1);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setAlignment(Qt::AlignCenter);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSize(24);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    frameLayout->addWidget(lblTitle);

    lblInfo = new QLabel(Frame1);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setTextFormat(Qt::PlainText);
    lblInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    frameLayout->addWidget(lblInfo);
    layout->addWidget(Frame1);

    Command1 = new QPushButton(QStringLiteral("Ok"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setMinimumWidth(97);
    connect(Command1, &QPushButton::clicked, this, &FrmAbout::Command1_Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    layout->addLayout(buttons);
}

FrmAbout::~FrmAbout()
{
    forms::release(this);
}

QString FrmAbout::informationText()
{
    return QStringList{
        QStringLiteral("Shows who is calling, as your Quillora Server announces each call."),
        QString(), QString(), QStringLiteral("Please visit ") + site::productSite()}
        .join(QLatin1Char('\n'));
}

void FrmAbout::Form_Load()
{
    lblTitle->setText(frmMain()->windowTitle());
    lblInfo->setText(informationText());
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void FrmAbout::Command1_Click()
{
    close();
}

void FrmAbout::closeEvent(QCloseEvent* event)
{
    forms::release(this);
    QWidget::closeEvent(event);
}
