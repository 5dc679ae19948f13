// The contacts window's record buttons: New contact, Save, Back, Next, Cancel and Edit.
// The window's mode (browse or edit) lives only in which controls are enabled.

#include "contacts/frmcontacts.h"

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

void FrmContacts::cmdContact_Click(int index)
{
    switch (index) {
    case NewContact:
        m_newSavePending = false; // a late reply's ID belongs to the record before
        lblInput[0]->clear();
        lblInput[1]->setText(QStringLiteral("Create new record."));
        enterEditMode();
        for (QLineEdit* box : txtInput)
            box->clear();
        modVariables().ContactRecords = contacts::RecordList{contacts::NewRecord};
        txtInput[0]->setFocus();
        break;
    case Edit:
        enterEditMode();
        lblInput[1]->setText(QStringLiteral("Edit record."));
        txtInput[0]->setFocus();
        break;
    case Save:
        saveRecord();
        break;
    case Back:
        browse(contacts::Direction::Back);
        break;
    case Next:
        browse(contacts::Direction::Next);
        break;
    case Cancel:
        enterBrowseMode();
        setBrowseButtons(modVariables().ContactRecords.size() >= 2);
        lblInput[1]->setText(QStringLiteral("Cancelled by user."));
        txtSearch->setFocus();
        break;
    default:
        break;
    }
}

void FrmContacts::enterEditMode()
{
    cmdSearch->setEnabled(false);
    cmdContact[NewContact]->setEnabled(false);
    setBrowseButtons(false);
    cmdContact[Edit]->setEnabled(false);
    txtSearch->setEnabled(false);
    cmdContact[Save]->setEnabled(true);
    cmdContact[Cancel]->setEnabled(true);
    for (QRadioButton* option : optSearch)
        option->setEnabled(false);
    for (QLineEdit* box : txtInput)
        box->setEnabled(true);
}

bool FrmContacts::inEditMode() const
{
    return cmdContact[Save]->isEnabled();
}

void FrmContacts::enterBrowseMode()
{
    m_keptThroughOutage = false;
    if (m_watchEnabled)
        QMetaObject::invokeMethod(this, &FrmContacts::timer_Contacts_Timer, Qt::QueuedConnection);
    cmdSearch->setEnabled(true);
    cmdContact[NewContact]->setEnabled(true);
    cmdContact[Edit]->setEnabled(true);
    cmdContact[Save]->setEnabled(false);
    cmdContact[Cancel]->setEnabled(false);
    txtSearch->setEnabled(true);
    for (QRadioButton* option : optSearch)
        option->setEnabled(true);
    for (QLineEdit* box : txtInput)
        box->setEnabled(false);
}

void FrmContacts::setBrowseButtons(bool enabled)
{
    cmdContact[Back]->setEnabled(enabled);
    cmdContact[Next]->setEnabled(enabled);
}

contacts::RecordFields FrmContacts::typedFields() const
{
    contacts::RecordFields fields;
    for (int i = 0; i < contacts::FieldCount; ++i)
        fields[i] = txtInput[i]->text();
    return fields;
}

void FrmContacts::saveRecord()
{
    const contacts::RecordFields fields = typedFields();
    // The save request cannot carry a comma inside a field; sending it would shift the
    // later fields and corrupt the record. Stay in edit mode so nothing typed is lost.
    if (contacts::containsComma(fields)) {
        lblInput[1]->setText(
            QStringLiteral("Record not saved. Commas cannot be stored in contact fields."));
        return;
    }
    const QString id = lblInput[0]->text();
    const bool isNew = id.isEmpty();
    if ((!isNew || !contacts::isBlank(fields)) && !readyToSave(isNew))
        return;
    if (!isNew) {
        if (!sendOrReport(contacts::saveRequest(id, fields)))
            return;
        setBrowseButtons(modVariables().ContactRecords.size() >= 2);
    } else if (contacts::isBlank(fields)) {
        lblInput[1]->setText(QStringLiteral("Record not saved. Nothing has been entered."));
    } else {
        if (!sendOrReport(contacts::saveRequest(QString(), fields)))
            return;
        m_newSavePending = true;
    }
    enterBrowseMode();
    txtSearch->setFocus();
}

bool FrmContacts::readyToSave(bool isNew)
{
    // Nothing is sent and nothing is lost: the record stays in the boxes, in edit mode,
    // until the connection is back. After an outage that means logged in again, and a
    // stored record only to the server it came from, whose ID it carries.
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (!connectedNow() || (m_keptThroughOutage && !main->sckConnect().isGreeted())) {
        lblInput[1]->setText(QStringLiteral("Record not saved. You are currently not connected."));
        tellNotConnected();
        return false;
    }
    if (m_keptThroughOutage && !isNew && currentServer() != m_recordServer) {
        lblInput[1]->setText(QStringLiteral("Record not saved. It belongs to the server at %1.")
                                 .arg(m_recordServer));
        MsgBox(QStringLiteral("This record was loaded from the server at %1, and the connection "
                              "is now to another server. Connect to %1 again to save it.")
                   .arg(m_recordServer),
               vbInformation, QStringLiteral("Add/Edit contacts."));
        return false;
    }
    return true;
}

void FrmContacts::browse(contacts::Direction direction)
{
    const contacts::BrowseTarget target =
        contacts::browseTarget(modVariables().ContactRecords, lblInput[0]->text(), direction);
    if (!target.ok) {
        showErrorReport(target.error, QStringLiteral("frmContacts"));
        return;
    }
    sendOrReport(contacts::browseRequest(modVariables().LastContactSearch, target.id));
}
