#pragma once

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

// Style values of the classic message box: one OK button and an icon.
enum MsgBoxStyle { vbCritical = 16, vbExclamation = 48, vbInformation = 64 };

// A modal message box in the program: it runs its own event loop, so timers and
// sockets go on while it is open. Returns when the user closes it.
void MsgBox(const QString& prompt, int style, const QString& title);

// Tests replace the box with a handler that records it and returns at once.
struct MsgBoxCall {
    QString prompt;
    int style = 0;
    QString title;
};
using MsgBoxHandler = std::function<void(const MsgBoxCall&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

// The box that MsgBox shows, built but not shown: application-modal, one OK button.
std::unique_ptr<QMessageBox> createMsgBox(const MsgBoxCall& call);
