// The contacts window against a loopback server, from the search to the connection watch.

#include "contacts/frmcontacts.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QTest>

using testsupport::boxes;
using W = FrmContacts;

namespace {

const QByteArray Record = "CNTAC:SEAR;Ann Lee,111,222,ann@example.org,333,444,31,7,12,31";

W* loaded()
{
    return forms::loadedOrNull<W>();
}

// Sends a reply and waits until the window has applied it.
bool deliver(testsupport::LoopbackServer& server, const QByteArray& reply)
{
    loaded()->lblInput[1]->setText(QStringLiteral("(waiting)"));
    server.send(reply);
    return QTest::qWaitFor([] { return loaded() && loaded()->lblInput[1]->text() != "(waiting)"; });
}

// Waits for exactly these bytes at the server, then forgets them.
bool expectRequest(testsupport::LoopbackServer& server, const QByteArray& request)
{
    const bool arrived = server.waitForReceived(request.size());
    const QByteArray received = server.received();
    server.clearReceived();
    if (received != request)
        qWarning("expected %s, received %s", request.constData(), received.constData());
    return arrived && received == request;
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Edit mode swaps searching and New for the boxes, Save and Cancel; the rest as given.
void checkMode(W* w, bool edit, bool backNext, bool editButton)
{
    QList<QWidget*> searching{w->cmdSearch, w->txtSearch, w->cmdContact[W::NewContact]};
    QList<QWidget*> editing{w->cmdContact[W::Save], w->cmdContact[W::Cancel]};
    searching.append({w->optSearch.begin(), w->optSearch.end()});
    editing.append({w->txtInput.begin(), w->txtInput.end()});
    for (QWidget* control : searching)
        QCOMPARE(control->isEnabled(), !edit);
    for (QWidget* control : editing)
        QCOMPARE(control->isEnabled(), edit);
    QCOMPARE(w->cmdContact[W::Back]->isEnabled(), backNext);
    QCOMPARE(w->cmdContact[W::Next]->isEnabled(), backNext);
    QCOMPARE(w->cmdContact[W::Edit]->isEnabled(), editButton);
}

QStringList shown(W* w)
{
    QStringList fields;
    for (QLineEdit* box : w->txtInput)
        fields << box->text();
    return fields;
}

} // namespace

class TstContacts final : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;

    // Connects, opens the window from the menu (a fresh record list) and searches.
    W* open(int option, const QString& text, const QByteArray& request)
    {
        if (!testsupport::connectMainWindow(*m_server))
            return nullptr;
        modVariables().ContactRecords = contacts::RecordList{"4", "5"};
        frmMain()->ToolAddEditContacts->trigger();
        W* w = loaded();
        click(w->optSearch[option]);
        w->txtSearch->setText(text);
        click(w->cmdSearch);
        checkMode(w, false, false, false);
        if (!w->txtSearch->text().isEmpty() ||
            modVariables().ContactRecords.toStringList() != QStringList{"NEW"})
            return nullptr;
        return expectRequest(*m_server, request) ? w : nullptr;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::LoopbackServer>();
    }
    void cleanup()
    {
        m_server.reset();
        m_env.reset();
    }

    void repliesAndBrowsing()
    {
        W* w = open(1, QStringLiteral(" lee "), "CNTAC:SEAR;NAME; lee ");
        QVERIFY(w && deliver(*m_server, Record));
        QCOMPARE(modVariables().LastContactSearch, QStringLiteral("CNTAC:SEAR;NAME; lee "));
        QCOMPARE(shown(w), (QStringList{"Ann Lee", "111", "222", "ann@example.org", "333", "444"}));
        QCOMPARE(w->lblInput[0]->text(), QStringLiteral("31"));
        QCOMPARE(modVariables().ContactRecords.toStringList(), (QStringList{"7", "12", "31"}));
        QCOMPARE(w->lblInput[1]->text(),
                 QStringLiteral("Currently viewing no. 3\r\nThe search found 3 records."));
        checkMode(w, false, true, true);
        click(w->cmdContact[W::Next]); // wraps round to the first
        QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME; lee ,@RECORD:7"));
        // The last entry equal to the shown ID picks the neighbour; IDs are read as numbers.
        QVERIFY(deliver(*m_server, "CNTAC:SEAR;Big,,,,,,5,5,0040000,5,9223372036854775807"));
        click(w->cmdContact[W::Next]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME; lee ,@RECORD:9223372036854775807"));
        click(w->cmdContact[W::Back]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME; lee ,@RECORD:40000"));

        QVERIFY(deliver(*m_server, "CNTAC:ERRO;<b>No</b> such record"));
        QCOMPARE(w->lblInput[1]->text(), QStringLiteral("ERROR:\r\n<b>No</b> such record"));
        QCOMPARE(w->lblInput[1]->textFormat(), Qt::PlainText);
        QVERIFY(deliver(*m_server, "CNTAC:SAVE;Record saved."));
        QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Record saved."));
        QVERIFY(deliver(*m_server, "CNTAC:SEAR;None"));
        QCOMPARE(shown(w), QStringList(6, QString()));
        QCOMPARE(w->lblInput[0]->text(), QString());
        QCOMPARE(w->lblInput[1]->text(), QStringLiteral("\r\nThe search found 0 records."));
        checkMode(w, false, false, false);
        QVERIFY(boxes().isEmpty());
    }

    void editingAndRefusals()
    {
        W* w = open(3, QStringLiteral("07;7,8"), "CNTAC:SEAR;MOBI;07;7,8");
        QVERIFY(w && deliver(*m_server, Record));
        click(w->cmdContact[W::Edit]);
        checkMode(w, true, false, false);
        QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Edit record."));
        w->txtInput[0]->setText(QStringLiteral(" Oth er "));
        click(w->cmdContact[W::Save]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;31, Oth er ,111,222,ann@example.org,333,444"));
        checkMode(w, false, true, true);

        click(w->cmdContact[W::Edit]);
        click(w->cmdContact[W::Cancel]);
        checkMode(w, false, true, true);

        click(w->cmdContact[W::NewContact]);
        checkMode(w, true, false, false);
        QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Create new record."));
        QCOMPARE(shown(w), QStringList(6, QString()));
        QCOMPARE(modVariables().ContactRecords.toStringList(), QStringList{"NEW"});
        w->txtInput[0]->setText(QStringLiteral("  "));
        click(w->cmdContact[W::Save]);
        QCOMPARE(w->lblInput[1]->text(),
                 QStringLiteral("Record not saved. Nothing has been entered."));
        checkMode(w, false, false, true);

        // A comma would shift the fields: refused, still editing, nothing typed lost.
        click(w->cmdContact[W::Edit]);
        w->txtInput[0]->setText(QStringLiteral("Lee, Ann"));
        w->txtInput[5]->setText(QStringLiteral("0800"));
        click(w->cmdContact[W::Save]);
        QCOMPARE(w->lblInput[1]->text(),
                 QStringLiteral("Record not saved. Commas cannot be stored in contact fields."));
        checkMode(w, true, false, false);
        QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Lee, Ann"));
        w->txtInput[0]->setText(QStringLiteral(" Lee Ann"));
        click(w->cmdContact[W::Save]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;NEW, Lee Ann,,,,,0800"));
        QVERIFY(boxes().isEmpty());
    }

    // The save reply names a new record's ID: the next save updates that record. Another
    // wording, or a reply that comes after New contact was pressed again, leaves the ID.
    void aNewRecordLearnsItsId()
    {
        W* w = open(0, QString(), "CNTAC:SEAR;ALLF;");
        QVERIFY(w);
        const auto saveNew = [w](const QString& name) {
            click(w->cmdContact[W::NewContact]);
            w->txtInput[0]->setText(name);
            click(w->cmdContact[W::Save]);
        };
        saveNew(QStringLiteral("Ann"));
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;NEW,Ann,,,,,"));
        QVERIFY(deliver(*m_server, "CNTAC:SAVE;New record saved with ID 57."));
        QCOMPARE(w->lblInput[0]->text(), QStringLiteral("57"));
        click(w->cmdContact[W::Edit]);
        click(w->cmdContact[W::Save]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;57,Ann,,,,,"));
        QVERIFY(deliver(*m_server, "CNTAC:SAVE;New record saved with ID 58."));
        QCOMPARE(w->lblInput[0]->text(), QStringLiteral("57")); // an update's reply: not ours

        for (const QByteArray reply :
             {"CNTAC:SAVE;Saved as record 59.", "CNTAC:SAVE;New record saved with ID 5x.",
              "CNTAC:ERRO;Not saved."}) {
            saveNew(QStringLiteral("Bob"));
            QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;NEW,Bob,,,,,"));
            QVERIFY(deliver(*m_server, reply));
            QCOMPARE(w->lblInput[0]->text(), QString());
        }
        saveNew(QStringLiteral("Cy"));
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;NEW,Cy,,,,,"));
        click(w->cmdContact[W::NewContact]);
        QVERIFY(deliver(*m_server, "CNTAC:SAVE;New record saved with ID 60."));
        QCOMPARE(w->lblInput[0]->text(), QString());
    }

    // While a record is being edited a lost connection keeps the window and what was
    // typed; Save waits for the connection. Back in browse mode, the window closes.
    void editingOutlivesTheConnection()
    {
        W* w = open(0, QString(), "CNTAC:SEAR;ALLF;");
        QVERIFY(w && deliver(*m_server, Record));
        click(w->cmdContact[W::Edit]);
        w->txtInput[0]->setText(QStringLiteral("Typed"));
        m_server->closeClient();
        QTRY_COMPARE(boxes().size(), 1);
        QTest::qWait(50); // and no more
        QCOMPARE(loaded(), w);
        QCOMPARE(boxes().size(), 1);
        click(w->cmdContact[W::Save]);
        QCOMPARE(boxes().size(), 2);
        for (const MsgBoxCall& box : boxes())
            QCOMPARE(box.prompt + "|" + box.title,
                     QStringLiteral("You are currently not connected.|Add/Edit contacts."));
        QCOMPARE(w->lblInput[1]->text(),
                 QStringLiteral("Record not saved. You are currently not connected."));
        checkMode(w, true, false, false);
        QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Typed"));

        // Back, but not logged in yet: a request now would be taken for the password.
        QVERIFY(testsupport::connectMainWindow(*m_server));
        click(w->cmdContact[W::Save]);
        QCOMPARE(boxes().size(), 3);
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), QStringLiteral("pw"));
        m_server->send("Welcome [0.92]");
        QVERIFY(expectRequest(*m_server, "pw"));
        click(w->cmdContact[W::Save]);
        QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;31,Typed,111,222,ann@example.org,333,444"));
        click(w->cmdContact[W::Edit]);
        m_server->closeClient();
        QVERIFY(QTest::qWaitFor([] { return boxes().size() == 4; }));
        click(w->cmdContact[W::Cancel]);
        QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
        QCOMPARE(boxes().size(), 5);
    }

    void failuresCloseTheWindow()
    {
        W* w = open(0, QString(), "CNTAC:SEAR;ALLF;");
        QVERIFY(w && deliver(*m_server, "CNTAC:SEAR;Ann,,,,,,12,12,abc"));
        click(w->cmdContact[W::Next]);
        QVERIFY(!loaded());
        QCOMPARE(boxes().size(), 1);
        const QStringList lines = boxes().at(0).prompt.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.at(6),
                 QStringLiteral("ERROR MESSAGE: The record ID \"abc\" is not a number."));
        QCOMPARE(lines.at(8), QStringLiteral("SOURCE: frmContacts"));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Add/Edit contacts."));

        // Losing the connection closes the window; so does loading it while disconnected.
        frmMain()->ToolAddEditContacts->trigger();
        m_server->closeClient();
        QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
        frmContacts();
        QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
        QCoreApplication::processEvents();
        QCOMPARE(boxes().size(), 3);
        for (const MsgBoxCall& box : boxes().mid(1)) {
            QCOMPARE(box.prompt, QStringLiteral("You are currently not connected."));
            QCOMPARE(box.style, 64);
            QCOMPARE(box.title, QStringLiteral("Add/Edit contacts."));
        }
    }
};

QTEST_MAIN(TstContacts)
#include "tst_contacts.moc"
