#include "contacts/frmcontacts.h"

#include "shell/forms.h"

#include <QCloseEvent>

FrmContacts* frmContacts()
{
    return forms::instance<FrmContacts>();
}

FrmContacts::FrmContacts()
{
    setObjectName(QStringLiteral("frmContacts"));
    setWindowTitle(QStringLiteral("Add/Edit contacts"));
}

FrmContacts::~FrmContacts()
{
    forms::release(this);
}

void FrmContacts::Form_Load() {}

void FrmContacts::AEContacts(const QString& strInput)
{
    Q_UNUSED(strInput)
}

void FrmContacts::closeEvent(QCloseEvent* event)
{
    forms::release(this);
    QDialog::closeEvent(event);
}
