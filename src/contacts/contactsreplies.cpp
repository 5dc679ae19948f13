// The contacts window's handling of the server's "CNTAC:" answers.

#include "contacts/frmcontacts.h"

#include "session/modvariables.h"

void FrmContacts::AEContacts(const QString& strInput)
{
    const contacts::Reply reply = contacts::parseReply(strInput);
    switch (reply.kind) {
    case contacts::Reply::Kind::Error:
        m_newSavePending = false;
        lblInput[1]->setText(contacts::errorInformation(reply.text));
        return;
    case contacts::Reply::Kind::Save:
        lblInput[1]->setText(reply.text);
        // The server named the new record's ID: the next save updates that record
        // instead of storing it a second time.
        if (m_newSavePending && lblInput[0]->text().isEmpty()) {
            lblInput[0]->setText(contacts::newRecordId(reply.text));
            m_recordServer = currentServer();
        }
        m_newSavePending = false;
        return;
    case contacts::Reply::Kind::Ignored:
        return;
    case contacts::Reply::Kind::NoResult:
        for (QLineEdit* box : txtInput)
            box->clear();
        txtSearch->setEnabled(true);
        lblInput[0]->clear();
        lblInput[1]->setText(contacts::noResultInformation());
        setBrowseButtons(false);
        cmdContact[Edit]->setEnabled(false);
        txtSearch->setFocus();
        return;
    case contacts::Reply::Kind::Records:
        break;
    }

    // A record: the entries present overwrite their controls, missing ones leave them be.
    for (int i = 0; i < reply.fields.size(); ++i)
        txtInput[i]->setText(reply.fields.at(i));
    if (reply.hasId) {
        lblInput[0]->setText(reply.id);
        m_recordServer = currentServer();
    }
    contacts::RecordList& records = modVariables().ContactRecords;
    records = std::move(reply.records);
    lblInput[1]->setText(contacts::recordInformation(records, lblInput[0]->text()));
    setBrowseButtons(records.size() >= 2);
    cmdContact[Edit]->setEnabled(true);
}
