// The contacts window's search: one request per click, remembered for browsing.

#include "contacts/frmcontacts.h"

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

#include <QPointer>

void FrmContacts::cmdSearch_Click()
{
    FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (!main || !main->sckConnect().isConnected()) {
        // The connection watch may close (and delete) this window while the box is open.
        const QPointer<FrmContacts> self(this);
        MsgBox(QStringLiteral("You are currently not connected."), vbInformation,
               QStringLiteral("Search contacts"));
        if (self)
            self->txtSearch->clear();
        return;
    }
    for (int i = 0; i < contacts::SearchFieldCount; ++i) {
        if (!optSearch[i]->isChecked())
            continue;
        // The text goes out as typed: not trimmed, nothing escaped. The server takes the
        // browse suffix from the last ",@RECORD:", so commas in the term are harmless.
        const QString request =
            contacts::searchRequest(contacts::searchFieldCode(i), txtSearch->text());
        if (!main->sckConnect().send(request)) {
            MsgBox(QStringLiteral("There was an error trying to query contacts."), vbCritical,
                   QStringLiteral("Query contacts"));
            return;
        }
        modVariables().LastContactSearch = request;
    }
    txtSearch->clear();
}
