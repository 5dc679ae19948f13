#pragma once

#include <QString>
#include <array>

// What the user can do with the number a pop-up shows: copy it, or look the caller up in
// the contacts.
namespace callactions {

// Whether the pop-up shows a number of a call at all (not the design text before one).
bool hasNumber(const QString& shown);

// The contacts search option to look the number up with: the phone field of the shown
// contact that holds it (home, mobile, business phone, business fax), else home phone.
// `details` are the pop-up's six detail texts: name, home, mobile, work, work fax, e-mail.
int searchOptionFor(const QString& number, const std::array<QString, 6>& details);

// Puts the number on the clipboard.
void copyNumber(const QString& number);

// Opens the contacts window and searches for the number with the given option. Nothing
// is sent while the client is not connected.
void findInContacts(const QString& number, int option);

} // namespace callactions
