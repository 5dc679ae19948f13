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

void MsgBox(const QString& prompt, int style, const QString& title)
{
    if (handler()) {
        handler()(MsgBoxCall{prompt, style, title});
        return;
    }
    QMessageBox box(iconFor(style), title, prompt, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
