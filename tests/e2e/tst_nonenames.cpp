// Contact names beginning with "None" through the real contacts window and the real server
// process. The client takes a search reply that begins with "None" for "nothing found", so
// the server leaves such names out of search replies, refuses to save them, and lists the
// stored ones when it starts.

#include "contacts/frmcontacts.h"
#include "realserver.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

const QString Password = QStringLiteral("open sesame");
const QString Listed = QStringLiteral("cannot be shown by clients");

// Stored after the demo contacts, as an older server could have stored them.
const QStringList StoredNames{"Nonesuch Zephyr", "nonesuch zephyr", "Zephyr Nones"};

// Runs statements on the server's database; the results of the last one, one value a row.
QStringList onDatabase(const QString& path, const QStringList& statements)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(path);
        if (!db.open())
            return {};
        QSqlQuery query(db);
        for (const QString& sql : statements) {
            if (!query.exec(sql))
                return {};
        }
        while (query.next())
            values << query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    return values;
}

} // namespace

class TestNoneNames final : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::RealServer> m_server;
    QStringList m_ids; // of StoredNames
    QPointer<FrmContacts> m_window;

    QStringList contactNames()
    {
        return onDatabase(m_server->databasePath(),
                          {QStringLiteral("SELECT name FROM contacts ORDER BY id")});
    }

    bool waitForInformation(const QString& start)
    {
        return QTest::qWaitFor(
            [&] { return m_window && m_window->lblInput[1]->text().startsWith(start); });
    }

private slots:
    // The demo data, then the stored names, then the server started again and a client
    // with its contacts window open.
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
        QVERIFY(m_server->start({"--password", Password, "--demo"}));
        QVERIFY(!m_server->log().contains(Listed));
        m_server->stop();
        QStringList inserts;
        for (const QString& name : StoredNames)
            inserts << QStringLiteral("INSERT INTO contacts (name) VALUES ('%1')").arg(name);
        m_ids = onDatabase(m_server->databasePath(),
                           inserts << QStringLiteral("SELECT id FROM contacts WHERE name LIKE "
                                                     "'%zephyr%' ORDER BY id"));
        QCOMPARE(m_ids.size(), StoredNames.size());

        QVERIFY(m_server->start({"--password", Password}));
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), Password);
        QVERIFY(testsupport::connectMainWindowTo(m_server->port()));
        QVERIFY(QTest::qWaitFor([&] { return m_server->log().contains(" authenticated."); }));
        frmMain()->ToolAddEditContacts->trigger();
        m_window = forms::loadedOrNull<FrmContacts>();
        QVERIFY(m_window);
    }

    void cleanup()
    {
        testsupport::unloadAllWindows();
        m_server.reset();
        m_env.reset();
    }

    void storedNameIsListedAndNeverShown()
    {
        // Only the name that begins with exactly "None" is harmful.
        QStringList listed = m_server->log().split(QLatin1Char('\n')).filter(Listed);
        QCOMPARE(listed.size(), 1);
        QVERIFY2(listed[0].contains("Contact " + m_ids[0] + " \"Nonesuch Zephyr\""),
                 qPrintable(listed[0]));

        // The first match by ID could be neither shown nor browsed to: it is left out.
        m_window->optSearch[1]->setChecked(true); // by name
        m_window->txtSearch->setText(QStringLiteral("zephyr"));
        m_window->cmdSearch->click();
        QVERIFY(waitForInformation(QStringLiteral("Currently viewing no. 1")));
        QCOMPARE(m_window->lblInput[0]->text(), m_ids[1]);
        QCOMPARE(m_window->txtInput[0]->text(), StoredNames[1]);
        QCOMPARE(modVariables().ContactRecords.toStringList(), m_ids.mid(1));
        // Browsing goes round the others.
        for (const QString& id : {m_ids[2], m_ids[1]}) {
            m_window->cmdContact[FrmContacts::Back]->click();
            QVERIFY(QTest::qWaitFor([&] { return m_window->lblInput[0]->text() == id; }));
        }
        QCOMPARE(m_window->txtInput[0]->text(), StoredNames[1]);
    }

    void savingSuchANameIsRefused()
    {
        const QStringList before = contactNames();
        m_window->cmdContact[FrmContacts::NewContact]->click();
        QTest::keyClicks(m_window->txtInput[0], QStringLiteral("Nonesuch"));
        QTest::keyClicks(m_window->txtInput[1], QStringLiteral("555-0100"));
        m_window->cmdContact[FrmContacts::Save]->click();
        QVERIFY(waitForInformation(QStringLiteral("ERROR:")));
        QCOMPARE(m_window->lblInput[1]->text(),
                 QStringLiteral("ERROR:\r\nRecord not saved: a name that begins with \"None\" "
                                "could never be found again because Quillora reads a search "
                                "result beginning with \"None\" as \"nothing found\". Please "
                                "choose another name."));
        QCOMPARE(contactNames(), before);
    }
};

QTEST_MAIN(TestNoneNames)
#include "tst_nonenames.moc"
