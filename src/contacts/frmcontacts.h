#pragma once

#include "contacts/contactsprotocol.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <array>

// The contacts window: search the server's contacts, browse the records found, edit them
// and create new ones. It sends through the main window's connection and receives the
// server's answers through AEContacts; it never waits for an answer.
class FrmContacts final : public QDialog {
    Q_OBJECT
public:
    // Indexes of the record buttons.
    enum Contact { NewContact = 0, Save = 1, Back = 2, Next = 3, Cancel = 4, Edit = 5 };

    FrmContacts();
    ~FrmContacts() override;

    // Load: starts the connection watch, which also runs once, queued, right away (so a
    // window loaded while disconnected closes at once with its message).
    void Form_Load();

    // Applies a contacts reply ("CNTAC:...") from the server.
    void AEContacts(const QString& strInput);

    void cmdSearch_Click();
    // 0 New contact, 1 Save, 2 Back, 3 Next, 4 Cancel, 5 Edit; anything else nothing.
    void cmdContact_Click(int index);
    void cmdButton_Click(int index);
    // One look at the connection: closes the window when it is gone, unless a record is
    // being edited, which stays with what the user typed until the connection is back.
    void timer_Contacts_Timer();

    // Whether the connection watch is running (the classic timer's Enabled).
    bool watchEnabled() const { return m_watchEnabled; }

    QGroupBox* frameSearch = nullptr;
    std::array<QRadioButton*, contacts::SearchFieldCount> optSearch{};
    QLabel* lblSearch = nullptr;
    QLineEdit* txtSearch = nullptr;
    QPushButton* cmdSearch = nullptr;
    QGroupBox* frameContact = nullptr;
    std::array<QLabel*, 7> lblContact{};
    std::array<QLabel*, 2> lblInput{};
    std::array<QLineEdit*, contacts::FieldCount> txtInput{};
    std::array<QPushButton*, 6> cmdContact{};
    QGroupBox* frameInfo = nullptr;
    std::array<QPushButton*, 1> cmdButton{};

protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape does not close the window: it would throw away a record being edited.
    void reject() override {}

private:
    void buildSearchFrame();
    void buildContactFrame();
    void Form_Unload();

    void enterEditMode();
    // Back to browsing; the connection watch looks again, since only an editing window
    // outlives the connection.
    void enterBrowseMode();
    bool inEditMode() const;
    bool connectedNow() const;
    // The server the shown record came from, as "address:port".
    QString currentServer() const;
    // Whether a save may go out now; if not, tells the user why (nothing is lost).
    bool readyToSave(bool isNew);
    void setBrowseButtons(bool enabled);
    contacts::RecordFields typedFields() const;
    void saveRecord();
    void browse(contacts::Direction direction);
    // Sends one request; on failure shows the error report and closes the window.
    bool sendOrReport(const QString& request);

    // The box of a lost connection.
    static void tellNotConnected();

    // The error report box; the window closes when it is dismissed.
    void showErrorReport(const QString& description, const QString& source);

    bool m_watchEnabled = false;
    // The connection went while a record was being edited, and the user has been told.
    bool m_toldNotConnected = false;
    // The window has kept a record through a lost connection: a save waits until the
    // client is logged in again, to the server the record came from.
    bool m_keptThroughOutage = false;
    QString m_recordServer;
    // A new record has been sent and its save reply has not come yet.
    bool m_newSavePending = false;
};

FrmContacts* frmContacts();

// The main window's "Add/&Edit contacts": ContactRecords becomes the single entry "NEW",
// then the window is shown (loaded first when needed), not modal.
void openContactsWindow();
