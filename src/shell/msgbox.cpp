#include "shell/msgbox.h"

#include <QMessageBox>

namespace {

MsgBoxHandler& handler()
{
    static MsgBoxHandler current;
    return current;
}

QMessageBox::Icon iconFor(int style)
{
    switch (style & 0x70) {
    case vbQuestion:
        return QMessageBox::Question;
    case vbCritical:
        return QMessageBox::Critical;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void setMsgBoxHandler(MsgBoxHandler newHandler)
{
    handler() = std::move(newHandler);
}

std::unique_ptr<QMessageBox> createMsgBox(const MsgBoxCall& call)
{
    const bool yesNo = (call.style & 0x0f) == vbYesNo;
    auto box =
        std::make_unique<QMessageBox>(iconFor(call.style), call.title, call.prompt,
                                      yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    if (yesNo) {
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
    }
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

int MsgBox(const QString& prompt, int style, const QString& title)
{
    const MsgBoxCall call{prompt, style, title};
    if (handler())
        return handler()(call);
    return msgBoxResult(createMsgBox(call)->exec(), style);
}

int msgBoxResult(int button, int style)
{
    if ((style & 0x0f) != vbYesNo)
        return vbOK;
    return button == QMessageBox::Yes ? vbYes : vbNo;
}
