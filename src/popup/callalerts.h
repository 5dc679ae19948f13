#pragma once

#include <QString>

// What a call does beside the pop-up, each as its own setting asks: the desktop's
// notification and the ring sound.
namespace callalerts {

struct Call {
    QString key;    // the same for every message about one call: the server's time and number
    QString number; // as the server sent it
    QString name;   // the contact's name; empty when the server sent none
};

// The pop-up has just been shown (or shown again) for this call.
void callShown(const Call& call);

} // namespace callalerts
