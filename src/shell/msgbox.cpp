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
    auto box = std::make_unique<QMessageBox>(iconFor(call.style), call.title, call.prompt,
                                             QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void MsgBox(const QString& prompt, int style, const QString& title)
{
    const MsgBoxCall call{prompt, style, title};
    if (handler()) {
        handler()(call);
        return;
    }
    createMsgBox(call)->exec();
}
