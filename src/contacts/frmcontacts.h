#pragma once

#include <QDialog>

// The contacts window: search, browse, edit and create contacts on the server.
class FrmContacts final : public QDialog {
    Q_OBJECT
public:
    FrmContacts();
    ~FrmContacts() override;
    void Form_Load();

    // Applies a contacts reply ("CNTAC:...") from the server.
    void AEContacts(const QString& strInput);

protected:
    void closeEvent(QCloseEvent* event) override;
};

FrmContacts* frmContacts();
