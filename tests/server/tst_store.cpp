// The database: WAL file, saving in one transaction, search, number lookup, call log.

#include "calllog.h"
#include "contactstore.h"
#include "database.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

Contact person(const QString& name, const QString& home = {}, const QString& mobile = {},
               const QString& email = {}, const QString& business = {}, const QString& fax = {})
{
    Contact c;
    c.name = name;
    c.home = home;
    c.mobile = mobile;
    c.email = email;
    c.businessPhone = business;
    c.businessFax = fax;
    return c;
}

} // namespace

class TestStore final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensInWalMode();
    void refusesUnusableFile();
    void savesAndUpdates();
    void saveIsOneTransaction();
    void searchIgnoresCaseInTheChosenField();
    void searchStaysInStepWithWrites();
    void lookupPrefersExactNumber();
    void callLogNewestFirst();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ContactStore> m_contacts;
    std::unique_ptr<CallLog> m_calls;
};

void TestStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_db = std::make_unique<Database>();
    QVERIFY2(m_db->open(m_dir->filePath(QStringLiteral("calls.sqlite"))),
             qPrintable(m_db->errorText()));
    m_contacts = std::make_unique<ContactStore>(*m_db);
    m_calls = std::make_unique<CallLog>(*m_db);
}

void TestStore::cleanup()
{
    m_calls.reset();
    m_contacts.reset();
    m_db.reset();
    m_dir.reset();
}

void TestStore::opensInWalMode()
{
    QSqlQuery& mode = m_db->statement(QStringLiteral("PRAGMA journal_mode"));
    QVERIFY(m_db->exec(mode));
    QVERIFY(mode.next());
    QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    mode.finish();
    // A second open of the same file finds its tables and rows.
    QVERIFY(m_contacts->insert(person(QStringLiteral("Ann"))));
    Database again;
    QVERIFY(again.open(m_db->path()));
    QCOMPARE(ContactStore(again).count(), qint64(1));
}

void TestStore::refusesUnusableFile()
{
    // A folder where the file should be.
    Database db;
    QVERIFY(!db.open(m_dir->path()));
    QVERIFY(!db.errorText().isEmpty());
}

void TestStore::savesAndUpdates()
{
    const auto id =
        m_contacts->insert(person(QStringLiteral("Ann Lee"), QStringLiteral("555-1000")));
    QVERIFY(id);
    Contact changed = person(QStringLiteral("Ann Berg"), QString(), QStringLiteral("555-3000"),
                             QStringLiteral("ann@example.com"));
    changed.id = *id;
    QCOMPARE(m_contacts->update(changed), ContactStore::UpdateResult::Updated);
    const auto stored = m_contacts->find(*id);
    QVERIFY(stored);
    QCOMPARE(stored->name, QStringLiteral("Ann Berg"));
    QCOMPARE(stored->home, QString());
    QCOMPARE(stored->email, QStringLiteral("ann@example.com"));
    // The numbers follow the record: the old home number no longer finds her.
    QVERIFY(!m_contacts->lookup(QStringLiteral("555-1000")));
    QCOMPARE(m_contacts->lookup(QStringLiteral("555-3000"))->id, *id);

    changed.id = *id + 100;
    QCOMPARE(m_contacts->update(changed), ContactStore::UpdateResult::NotFound);
    QCOMPARE(m_contacts->count(), qint64(1));
}

void TestStore::saveIsOneTransaction()
{
    // Make the second write of a save fail: the record itself must not stay behind.
    QSqlQuery& trap = m_db->statement(
        QStringLiteral("CREATE TRIGGER refuse_number BEFORE INSERT ON contact_numbers"
                       " WHEN NEW.number = '000' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QVERIFY(m_db->exec(trap));

    QVERIFY(!m_contacts->insert(person(QStringLiteral("Half"), QStringLiteral("000"))));
    QCOMPARE(m_contacts->count(), qint64(0));

    const auto id = m_contacts->insert(person(QStringLiteral("Whole"), QStringLiteral("555-1")));
    QVERIFY(id);
    Contact changed = person(QStringLiteral("Changed"), QStringLiteral("000"));
    changed.id = *id;
    QCOMPARE(m_contacts->update(changed), ContactStore::UpdateResult::Failed);
    QCOMPARE(m_contacts->find(*id)->name, QStringLiteral("Whole"));
    QCOMPARE(m_contacts->lookup(QStringLiteral("555-1"))->id, *id);
}

void TestStore::searchIgnoresCaseInTheChosenField()
{
    using requests::SearchField;
    const qint64 a =
        *m_contacts->insert(person(QStringLiteral("Jürgen Smith"), QStringLiteral("555-1"), {},
                                   QStringLiteral("js@example.com")));
    const qint64 b = *m_contacts->insert(
        person(QStringLiteral("Ann"), {}, {}, QStringLiteral("ann@smith.example")));
    const qint64 c = *m_contacts->insert(
        person(QStringLiteral("Bob"), {}, {}, {}, {}, QStringLiteral("555-SMITH")));
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("SMITH")), QList<qint64>{a});
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("JÜRGEN")), QList<qint64>{a});
    QCOMPARE(m_contacts->search(SearchField::Email, QStringLiteral("smith")), QList<qint64>{b});
    QCOMPARE(m_contacts->search(SearchField::BusinessFax, QStringLiteral("smith")),
             QList<qint64>{c});
    QCOMPARE(m_contacts->search(SearchField::All, QStringLiteral("Smith")),
             (QList<qint64>{a, b, c}));
    QCOMPARE(m_contacts->search(SearchField::Home, QStringLiteral("smith")), QList<qint64>{});
    QCOMPARE(m_contacts->search(SearchField::Mobile, QString()), (QList<qint64>{a, b, c}));
    // Wildcards of other query languages are plain characters here.
    QCOMPARE(m_contacts->search(SearchField::All, QStringLiteral("%")), QList<qint64>{});
    QCOMPARE(m_contacts->search(SearchField::All, QStringLiteral("'")), QList<qint64>{});
}

void TestStore::searchStaysInStepWithWrites()
{
    using requests::SearchField;
    const qint64 a = *m_contacts->insert(person(QStringLiteral("Ann"), QStringLiteral("555-1")));
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("ann")), QList<qint64>{a});

    // Written after the index was built: found at once, old text gone.
    Contact renamed = *m_contacts->find(a);
    renamed.name = QStringLiteral("Zoe");
    QCOMPARE(m_contacts->update(renamed), ContactStore::UpdateResult::Updated);
    const qint64 b = *m_contacts->insert(person(QStringLiteral("Annika")));
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("ann")), QList<qint64>{b});
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("zoe")), QList<qint64>{a});

    // A text across two fields matches in neither.
    QCOMPARE(m_contacts->search(SearchField::All, QStringLiteral("zoe555")), QList<qint64>{});
    QCOMPARE(m_contacts->search(SearchField::All, QStringLiteral("zoe") + QChar(0x1F)),
             QList<qint64>{});

    // A save that fails and is rolled back leaves nothing findable behind.
    QSqlQuery& trap = m_db->statement(
        QStringLiteral("CREATE TRIGGER refuse_number BEFORE INSERT ON contact_numbers"
                       " WHEN NEW.number = '000' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QVERIFY(m_db->exec(trap));
    QVERIFY(!m_contacts->insert(person(QStringLiteral("Ghost"), QStringLiteral("000"))));
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("ghost")), QList<qint64>{});
    QCOMPARE(m_contacts->search(SearchField::All, QString()), (QList<qint64>{a, b}));

    // Another process writing to the same file is noticed too.
    {
        Database other;
        QVERIFY(other.open(m_db->path()));
        QVERIFY(ContactStore(other).insert(person(QStringLiteral("From elsewhere"))));
    }
    QCOMPARE(m_contacts->search(SearchField::Name, QStringLiteral("elsewhere")).size(), 1);
}

void TestStore::lookupPrefersExactNumber()
{
    const qint64 digits =
        *m_contacts->insert(person(QStringLiteral("Digits"), QStringLiteral("5551234")));
    const qint64 exact =
        *m_contacts->insert(person(QStringLiteral("Exact"), {}, QStringLiteral("555-1234")));
    QCOMPARE(m_contacts->lookup(QStringLiteral("555-1234"))->id, exact);
    QCOMPARE(m_contacts->lookup(QStringLiteral("5551234"))->id, digits);
    // No exact match: the same digits find the lowest ID.
    QCOMPARE(m_contacts->lookup(QStringLiteral("(555) 12-34"))->id, digits);
    QCOMPARE(m_contacts->lookup(QStringLiteral(" 555-1234 "))->id, exact);
    QVERIFY(!m_contacts->lookup(QStringLiteral("555-9999")));
    QVERIFY(!m_contacts->lookup(QStringLiteral("")));
    QVERIFY(!m_contacts->lookup(QStringLiteral("unknown")));
}

void TestStore::callLogNewestFirst()
{
    const qint64 ann = *m_contacts->insert(person(QStringLiteral("Ann"), QStringLiteral("555-1")));
    const QDateTime t0(QDate(2024, 5, 1), QTime(9, 0));
    QVERIFY(m_calls->add(t0.addSecs(60), QStringLiteral("555-1"), ann));
    QVERIFY(m_calls->add(t0, QStringLiteral("555-9"), std::nullopt));
    QCOMPARE(m_calls->newest(1, false)[0].at, t0.addSecs(60));

    // The name shown is the contact's current one.
    Contact renamed = *m_contacts->find(ann);
    renamed.name = QStringLiteral("Ann Berg");
    QCOMPARE(m_contacts->update(renamed), ContactStore::UpdateResult::Updated);
    QCOMPARE(m_calls->newest(1, false)[0].name, QStringLiteral("Ann Berg"));
    QCOMPARE(m_calls->newest(1, true)[0].name, QStringLiteral("Unknown"));
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
