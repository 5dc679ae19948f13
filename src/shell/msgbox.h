#pragma once

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

// Style values of the classic message box: the buttons (one OK button unless Yes and No
// are asked for) plus an icon.
enum MsgBoxStyle {
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64
};
// The button that closed it.
enum MsgBoxResult { vbOK = 1, vbYes = 6, vbNo = 7 };

// A modal message box in the program: it runs its own event loop, so timers and
// sockets go on while it is open. Returns, when the user closes it, the button pressed
// (closing a Yes/No box otherwise counts as No).
int MsgBox(const QString& prompt, int style, const QString& title);

// Tests replace the box with a handler that records it and returns at once.
struct MsgBoxCall {
    QString prompt;
    int style = 0;
    QString title;
};
using MsgBoxHandler = std::function<int(const MsgBoxCall&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

// The box that MsgBox shows, built but not shown: application-modal, with its buttons.
std::unique_ptr<QMessageBox> createMsgBox(const MsgBoxCall& call);
// What MsgBox returns for the button that closed such a box.
int msgBoxResult(int button, int style);
