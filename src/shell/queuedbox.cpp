#include "shell/queuedbox.h"

#include "shell/msgbox.h"

#include <QCoreApplication>

void queueMsgBox(const QString& prompt, int style, const QString& title,
                 std::function<void()> after)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [prompt, style, title, after = std::move(after)] {
            MsgBox(prompt, style, title);
            if (after)
                after();
        },
        Qt::QueuedConnection);
}
