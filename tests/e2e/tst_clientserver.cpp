// The real client windows against the real server process and its demo data: the
// password, the four statistics filling the grid with what the database holds, contacts
// searched, browsed, edited and created, and a new contact's calls popping up.

#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "realserver.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <memory>

namespace {

const QString Password = QStringLiteral("open sesame");
const QString Db = QStringLiteral("e2e");

// Calls as the statistics list them, newest first once ordered.
const QString CallList = QStringLiteral(
    "SELECT coalesce(name, 'Unknown'), datetime(at / 1000, 'unixepoch', 'localtime'), number"
    " FROM calls LEFT JOIN contacts ON contacts.id = contact_id ");
// Contacts with their calls: those that matched the contact, plus the unrecognised calls
// from a number the contact has now.
const QString ContactCounts = QStringLiteral(
    "SELECT id, name, home, mobile, business_phone, business_fax, email, known + unrec, unrec"
    " FROM (SELECT *, (SELECT count(*) FROM calls WHERE contact_id = c.id) AS known,"
    " (SELECT count(*) FROM calls WHERE contact_id IS NULL AND digits IN"
    " (SELECT digits FROM contact_numbers WHERE contact_id = c.id)) AS unrec FROM contacts c) ");

const QString Record = QStringLiteral(
    "SELECT id, name, home, mobile, email, business_phone, business_fax FROM contacts WHERE id = ");

// The rows of a query on the server's database, each row's values joined by "|".
QStringList dbRows(const QString& sql)
{
    QSqlQuery query(QSqlDatabase::database(Db));
    if (!query.exec(sql))
        return {query.lastError().text()};
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i)
            values << query.value(i).toString();
        rows << values.join(QLatin1Char('|'));
    }
    return rows;
}

// The record the contacts window shows, in the order of stored().
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

    static QString stored(const QString& id) { return dbRows(Record + id).value(0); }

    // Connects and waits until the server has checked the password the client sent.
    bool connectClient(const QString& password = Password)
    {
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), password);
        frmMain();
        const QString checked = password == Password ? QStringLiteral(" authenticated.")
                                                     : QStringLiteral(" wrong password");
        const qsizetype before = m_server->log().count(checked);
        return testsupport::connectMainWindow(*m_server) &&
               QTest::qWaitFor([&] { return m_server->log().count(checked) > before; });
    }

    // Opens the contacts window from the menu and searches.
    FrmContacts* searchContacts(int field, const QString& text)
    {
        frmMain()->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        w->optSearch[size_t(field)]->setChecked(true);
        QTest::keyClicks(w->txtSearch, text);
        w->cmdSearch->click();
        return QTest::qWaitFor([w] { return w && !w->lblInput[0]->text().isEmpty(); }) ? w
                                                                                       : nullptr;
    }

    // Rings the number through the server; the pop-up once it shows that call.
    FrmQuillora* ring(const QString& number)
    {
        FrmQuillora* p = nullptr;
        const auto showsTheCall = [&] {
            return (p = forms::loadedOrNull<FrmQuillora>()) && p->isVisible() &&
                   p->lblNumberCalling->text() == number;
        };
        return m_server->ring(number) == 0 && QTest::qWaitFor(showsTheCall) ? p : nullptr;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
        QVERIFY(
            m_server->start({QStringLiteral("--password"), Password, QStringLiteral("--demo")}));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Db);
        db.setDatabaseName(m_server->databasePath());
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
    }

    void cleanup()
    {
        testsupport::unloadAllWindows();
        QSqlDatabase::removeDatabase(Db);
        m_server.reset();
        m_env.reset();
    }

    void wrongPasswordGetsTheConnectionClosed()
    {
        QVERIFY(connectClient(QStringLiteral("open says me")));
        QVERIFY(QTest::qWaitFor([] { return !frmMain()->sckConnect().isConnected(); }));
    }

    void statisticsShowWhatTheDatabaseHolds_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("sql"); // what the grid must show, for a count of 20
        const QString newest = QStringLiteral("ORDER BY at DESC, calls.id DESC LIMIT 20");
        QTest::newRow("last calls") << 0 << CallList + newest;
        QTest::newRow("unrecognised") << 1 << CallList + "WHERE contact_id IS NULL " + newest;
        QTest::newRow("top callers") << 2
                                     << ContactCounts + "WHERE known + unrec > 0"
                                                        " ORDER BY known + unrec DESC, id LIMIT 20";
        QTest::newRow("contact list, all of it") << 3 << ContactCounts + "ORDER BY id";
    }

    void statisticsShowWhatTheDatabaseHolds()
    {
        QFETCH(int, mode);
        QFETCH(QString, sql);
        // A contact added after calls from its number came in: they are its unrecognised calls.
        QVERIFY(m_server->request("CNTAC:SAVE;NEW,Late Entry,555-9012,,,,", Password.toUtf8())
                    .startsWith("CNTAC:SAVE;New record"));
        QVERIFY(connectClient());
        frmMain()->StatisticsStatistics->trigger();
        QPointer<FrmStatistics> w = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(w && w->isVisible());
        w->optStatMode[size_t(mode)]->setChecked(true);
        w->cmbRecords->setEditText(QStringLiteral("20"));
        w->cmdQuery->click();
        QVERIFY(QTest::qWaitFor([w] { return w && w->Frame1->isEnabled(); }));

        QStringList expected = dbRows(sql);
        QVERIFY2(expected.size() >= 10, qPrintable(expected.join(QLatin1Char('\n'))));
        const GridModel& grid = w->MSFlexGrid1->grid();
        QStringList rows;
        for (int r = 1; r < grid.rows(); ++r) {
            QStringList cells;
            for (int c = 0; c < grid.cols(); ++c)
                cells << grid.textMatrix(r, c);
            rows << cells.join(QLatin1Char('|'));
        }
        QCOMPARE(rows, expected << QString(grid.cols() - 1, QLatin1Char('|'))); // an empty row last
    }

    void contactsAreSearchedBrowsedAndEdited()
    {
        QVERIFY(connectClient());
        // By name, whatever the case.
        QPointer<FrmContacts> w = searchContacts(1, QStringLiteral("AN"));
        QVERIFY(w);
        const QStringList ids =
            dbRows(QStringLiteral("SELECT id FROM contacts WHERE name LIKE '%an%' ORDER BY id"));
        QVERIFY(ids.size() >= 3);
        QCOMPARE(modVariables().ContactRecords, ids);
        QCOMPARE(shown(w), stored(ids[0]));

        // Next round the whole list back to the first, then Back round it once more.
        const int n = int(ids.size());
        for (int i = 1; i <= 2 * n; ++i) {
            const QString before = w->lblInput[0]->text();
            w->cmdContact[i <= n ? FrmContacts::Next : FrmContacts::Back]->click();
            QVERIFY(QTest::qWaitFor([&] { return w && w->lblInput[0]->text() != before; }));
            QCOMPARE(w->lblInput[0]->text(), ids[(i <= n ? i : 2 * n - i) % n]);
            QCOMPARE(shown(w), stored(w->lblInput[0]->text()));
        }

        const QString id = w->lblInput[0]->text();
        w->cmdContact[FrmContacts::Edit]->click();
        w->txtInput[0]->setText(QStringLiteral("Edith Renamed"));
        w->txtInput[4]->setText(QStringLiteral("555-4321"));
        w->cmdContact[FrmContacts::Save]->click();
        QVERIFY(QTest::qWaitFor(
            [w, id] { return w && w->lblInput[1]->text() == "Record " + id + " saved."; }));
        QCOMPARE(stored(id), shown(w)); // the new name and business phone, the rest as it was
    }

    void newContactIsFoundAndPopsUpOnItsCalls()
    {
        QVERIFY(connectClient());
        frmMain()->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        w->cmdContact[FrmContacts::NewContact]->click();
        const QStringList typed{QStringLiteral("Margit Holm"), QStringLiteral("555-0142"),
                                QStringLiteral("555-0199"),    QStringLiteral("margit@example.com"),
                                QStringLiteral("555-0700"),    QStringLiteral("555-0701")};
        for (int i = 0; i < 6; ++i)
            QTest::keyClicks(w->txtInput[size_t(i)], typed[i]);
        w->cmdContact[FrmContacts::Save]->click();
        QVERIFY(QTest::qWaitFor([w] {
            return w && w->lblInput[1]->text().startsWith(QLatin1String("New record saved"));
        }));
        QVERIFY((w = searchContacts(0, QStringLiteral("MARGIT@")))); // all fields
        const QString id = w->lblInput[0]->text();
        QCOMPARE(modVariables().ContactRecords, QStringList{id});
        QCOMPARE(shown(w), id + "|" + typed.join(QLatin1Char('|')));
        QCOMPARE(stored(id), shown(w));

        // The pop-up shows name, home, mobile, business phone, business fax and e-mail.
        FrmQuillora* popUp = ring(QStringLiteral("555-0142"));
        QVERIFY(popUp);
        const int order[] = {0, 1, 2, 4, 5, 3};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(popUp->lblIncoming[size_t(i)]->text(), typed[order[i]]);
        // Written without its dash the number still finds the caller; an unknown caller
        // right after leaves no detail of the previous one on show.
        QVERIFY((popUp = ring(QStringLiteral("5550199"))));
        QCOMPARE(popUp->lblIncoming[0]->text(), typed[0]);
        QVERIFY((popUp = ring(QStringLiteral("555-9876"))));
        for (const QLabel* label : popUp->lblIncoming)
            QCOMPARE(label->text(), QString());
    }
};

QTEST_MAIN(TestClientServer)
#include "tst_clientserver.moc"
