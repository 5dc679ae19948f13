// The real client windows against the real server process and its demo data: the password,
// contacts searched, browsed, edited and created, calls popping up, and the statistics.

#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "realserver.h"
#include "serverdb.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QTest>

namespace {

const QString Password = QStringLiteral("open sesame");

const QString CallList =
    "SELECT coalesce(name, 'Unknown'), datetime(at / 1000, 'unixepoch',"
    " 'localtime'), number FROM calls LEFT JOIN contacts ON contacts.id = contact_id ";
// Contacts with their calls, counting the unrecognised ones from a number they have now.
const QString ContactCounts =
    "SELECT id, name, home, mobile, business_phone, business_fax, email,"
    " known + unrec, unrec FROM (SELECT *, (SELECT count(*) FROM calls WHERE contact_id = c.id)"
    " AS known, (SELECT count(*) FROM calls WHERE contact_id IS NULL AND digits IN (SELECT digits"
    " FROM contact_numbers WHERE contact_id = c.id)) AS unrec FROM contacts c) ";

const QString Record = "SELECT id, name, home, mobile, email, business_phone, business_fax"
                       " FROM contacts WHERE id = ";

// The record the contacts window shows, in the order of Record.
QString shown(const FrmContacts* w)
{
    QStringList values{w->lblInput[0]->text()};
    for (const QLineEdit* box : w->txtInput)
        values << box->text();
    return values.join(QLatin1Char('|'));
}
} // namespace

class TestClientServer final : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::RealServer> m_server;

    static QString stored(const QString& id) { return testsupport::dbRows(Record + id).value(0); }

    // Connects and waits until the server has checked the password the client sent.
    bool connectClient(const QString& password = Password)
    {
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), password);
        const QString checked = password == Password ? " authenticated." : " wrong password";
        const qsizetype before = m_server->log().count(checked);
        return testsupport::connectMainWindowTo(m_server->port()) &&
               QTest::qWaitFor([&] { return m_server->log().count(checked) > before; });
    }

    // Searches in the contacts window; whether a record came up.
    static bool search(FrmContacts* w, int field, const QString& text)
    {
        w->optSearch[size_t(field)]->setChecked(true);
        w->txtSearch->setText(text);
        w->lblInput[1]->clear();
        w->cmdSearch->click();
        return QTest::qWaitFor([w] {
            return w->lblInput[1]->text().contains(QLatin1String("The search found")) &&
                   !w->lblInput[0]->text().isEmpty();
        });
    }

    // Saves the window's record; whether the server's answer begins so.
    static bool save(FrmContacts* w, const QString& answer)
    {
        w->cmdContact[FrmContacts::Save]->click();
        return QTest::qWaitFor([&] { return w && w->lblInput[1]->text().startsWith(answer); });
    }

    // Rings the number through the server; the details on the pop-up once it shows the call.
    QStringList ring(const QString& number)
    {
        QStringList details;
        const auto popUp = [] { return forms::loadedOrNull<FrmQuillora>(); };
        if (m_server->ring(number) == 0 && QTest::qWaitFor([&] {
                return popUp() && popUp()->isVisible() &&
                       popUp()->lblNumberCalling->text() == number;
            })) {
            for (const QLabel* label : popUp()->lblIncoming)
                details << label->text();
        }
        return details;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
        QVERIFY(m_server->start({"--password", Password, "--demo"}));
        QVERIFY(testsupport::openDatabase(m_server->databasePath()));
    }

    void cleanup()
    {
        testsupport::unloadAllWindows();
        testsupport::closeDatabase();
        m_server.reset();
        m_env.reset();
    }

    void contactsCallsAndStatisticsMatchTheDatabase()
    {
        // A wrong password gets the connection closed; the right one is let in.
        QVERIFY(connectClient(QStringLiteral("open says me")));
        QVERIFY(QTest::qWaitFor([] { return !frmMain()->sckConnect().isConnected(); }));
        QVERIFY(connectClient());
        frmMain()->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();

        QVERIFY(w && search(w, 1, QStringLiteral("AN"))); // by name, whatever the case
        const QStringList ids = testsupport::dbRows(
            QStringLiteral("SELECT id FROM contacts WHERE name LIKE '%an%' ORDER BY id"));
        QVERIFY(ids.size() >= 3);
        QCOMPARE(modVariables().ContactRecords.toStringList(), ids);
        // Next round the whole list back to the first, then Back round it once more.
        for (qsizetype i = 1, n = ids.size(); i <= 2 * n; ++i) {
            const QString expected = ids[(i <= n ? i : 2 * n - i) % n];
            w->cmdContact[i <= n ? FrmContacts::Next : FrmContacts::Back]->click();
            QVERIFY(QTest::qWaitFor([&] { return w && w->lblInput[0]->text() == expected; }));
            QCOMPARE(shown(w), stored(expected));
        }
        w->cmdContact[FrmContacts::Edit]->click();
        w->txtInput[0]->setText(QStringLiteral("Edith Renamed"));
        w->txtInput[4]->setText(QStringLiteral("555-4321"));
        QVERIFY(save(w, "Record " + ids[0] + " saved."));
        QCOMPARE(stored(ids[0]), shown(w)); // the new name and business phone, the rest as it was

        // A new contact, whose fax number had called before it was added.
        w->cmdContact[FrmContacts::NewContact]->click();
        const QStringList typed{"Margit Holm",        "555-0142", "555-0199",
                                "margit@example.com", "555-0700", "555-9012"};
        for (int i = 0; i < 6; ++i)
            QTest::keyClicks(w->txtInput[size_t(i)], typed[i]);
        QVERIFY(save(w, QStringLiteral("New record saved")));
        // The window learns the new ID, so saving it again updates it: no second copy.
        const QString newId = w->lblInput[0]->text();
        QCOMPARE(w->lblInput[1]->text(), "New record saved with ID " + newId + ".");
        w->cmdContact[FrmContacts::Edit]->click();
        QVERIFY(save(w, "Record " + newId + " saved."));
        QCOMPARE(testsupport::dbRows(
                     QStringLiteral("SELECT id FROM contacts WHERE name = 'Margit Holm'")),
                 QStringList{newId});
        QVERIFY(search(w, 0, QStringLiteral("MARGIT@"))); // all fields
        QCOMPARE(modVariables().ContactRecords.toStringList(), QStringList{newId});
        QCOMPARE(shown(w), newId + "|" + typed.join(QLatin1Char('|')));
        QCOMPARE(stored(newId), shown(w));

        // The pop-up shows name, home, mobile, business phone, business fax and e-mail.
        QCOMPARE(ring(QStringLiteral("555-0142")),
                 (QStringList{typed[0], typed[1], typed[2], typed[4], typed[5], typed[3]}));
        // Written without its dash the number still finds the caller; an unknown caller
        // right after leaves no detail of the previous one on show.
        QCOMPARE(ring(QStringLiteral("5550199")).value(0), typed[0]);
        QCOMPARE(ring(QStringLiteral("555-9876")), QStringList(6));

        // Each statistic, for a count of 20, as the database has it now. The calls from
        // the new contact's fax before it was added are its unrecognised calls.
        frmMain()->StatisticsStatistics->trigger();
        QPointer<FrmStatistics> s = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(s && s->isVisible());
        const QString newest = QStringLiteral("ORDER BY at DESC, calls.id DESC LIMIT 20");
        const QString modes[] = {
            CallList + newest, CallList + "WHERE contact_id IS NULL " + newest,
            ContactCounts + "WHERE known + unrec > 0 ORDER BY known + unrec DESC, id LIMIT 20",
            ContactCounts + "ORDER BY id"}; // the contact list, all of it
        for (const QString& sql : modes) {
            s->optStatMode[size_t(&sql - modes)]->setChecked(true);
            s->cmbRecords->setEditText(QStringLiteral("20"));
            s->cmdQuery->click();
            QVERIFY(QTest::qWaitFor([s] { return s && s->Frame1->isEnabled(); }));
            QStringList expected = testsupport::dbRows(sql);
            QVERIFY2(expected.size() >= 10, qPrintable(expected.join(QLatin1Char('\n'))));
            const GridModel& grid = s->MSFlexGrid1->grid();
            QCOMPARE(testsupport::gridRows(grid),
                     expected << QString(grid.cols() - 1, QLatin1Char('|'))); // empty last
        }
    }

    // The server dies while a record is being edited: the window stays with what was
    // typed, says so once, refuses to save until the client is connected again, then
    // saves to the restarted server.
    void editSurvivesTheServerGoing()
    {
        QVERIFY(connectClient());
        frmMain()->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        QVERIFY(w && search(w, 1, QStringLiteral("an")));
        const QString id = w->lblInput[0]->text();
        w->cmdContact[FrmContacts::Edit]->click();
        w->txtInput[0]->setText(QStringLiteral("Typed Before The Crash"));

        m_server->kill();
        const auto notConnected = [] {
            return std::count_if(testsupport::boxes().cbegin(), testsupport::boxes().cend(),
                                 [](const MsgBoxCall& box) {
                                     return box.prompt == "You are currently not connected." &&
                                            box.title == "Add/Edit contacts.";
                                 });
        };
        QTRY_COMPARE(notConnected(), 1);
        QTest::qWait(100); // and no second box
        QVERIFY(w && w->isVisible());
        QCOMPARE(notConnected(), 1);
        w->cmdContact[FrmContacts::Save]->click();
        QCOMPARE(notConnected(), 2);
        QVERIFY(w->cmdContact[FrmContacts::Save]->isEnabled()); // still editing
        QCOMPARE(w->txtInput[0]->text(), QString("Typed Before The Crash"));

        // Another server with the same contacts: the record does not go there.
        testsupport::RealServer other(QStringLiteral(QUILLORA_SERVER_BIN));
        QVERIFY(other.start({"--password", Password, "--demo"}));
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), Password);
        QVERIFY(testsupport::connectMainWindowTo(other.port()));
        QVERIFY(QTest::qWaitFor([&] { return other.log().contains(" authenticated."); }));
        w->cmdContact[FrmContacts::Save]->click();
        QVERIFY(w->lblInput[1]->text().startsWith("Record not saved. It belongs to the server"));
        QVERIFY(w->cmdContact[FrmContacts::Save]->isEnabled()); // nothing sent: still editing
        QCOMPARE(w->txtInput[0]->text(), QString("Typed Before The Crash"));

        QVERIFY(m_server->start({"--password", Password}));
        QVERIFY(connectClient());
        QVERIFY(save(w, "Record " + id + " saved."));
        QCOMPARE(stored(id).section(QLatin1Char('|'), 1, 1), QString("Typed Before The Crash"));
        QCOMPARE(notConnected(), 3); // the server left behind counts as a lost connection
    }
};

QTEST_MAIN(TestClientServer)
#include "tst_clientserver.moc"
