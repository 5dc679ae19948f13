#pragma once

#include <QString>
#include <functional>

// Shows a message box once the current handler has returned, then runs `after`.
// A modal box lets other events run, among them the one that closes (and so deletes)
// the window whose handler asked for the box; queued, the box never runs inside a
// handler of an object that may be gone when it closes.
void queueMsgBox(const QString& prompt, int style, const QString& title,
                 std::function<void()> after = {});
