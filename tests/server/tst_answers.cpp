// The statistics and contacts answers, read from and written to a real database.

#include "answers.h"
#include "calllog.h"
#include "contactstore.h"
#include "database.h"
#include "replies.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// What the client makes of a statistics reply: the kind, and the fields after "#" and
// the two characters that follow it.
struct StatsView {
    QString kind;
    QStringList fields;
};

StatsView view(const QString& reply)
{
    const qsizetype hash = reply.indexOf(QLatin1Char('#'));
    const QString list = reply.mid(hash + 3);
    return {reply.left(10), list.isEmpty() ? QStringList{} : list.split(QLatin1Char(','))};
}

} // namespace

class TestAnswers final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lastAndUnknownCalls();
    void topCallersCountUnrecognisedCalls();
    void contactListHasEveryContact();
    void searchAndBrowse();
    void saveUpdatesAndCreates();
    void refusedSavesChangeNothing();
    void otherMessagesGetNoAnswer();

private:
    QString ask(const QString& request)
    {
        return answers::answer(request, *m_contacts, *m_calls).value_or(QStringLiteral("<none>"));
    }
    qint64 add(const QString& name, const QString& home, const QString& email = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ContactStore> m_contacts;
    std::unique_ptr<CallLog> m_calls;
    QDateTime m_t0 = QDateTime(QDate(2024, 5, 1), QTime(9, 0));
};

void TestAnswers::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_db = std::make_unique<Database>();
    QVERIFY(m_db->open(m_dir->filePath(QStringLiteral("a.sqlite"))));
    m_contacts = std::make_unique<ContactStore>(*m_db);
    m_calls = std::make_unique<CallLog>(*m_db);
}

void TestAnswers::cleanup()
{
    m_calls.reset();
    m_contacts.reset();
    m_db.reset();
    m_dir.reset();
}

qint64 TestAnswers::add(const QString& name, const QString& home, const QString& email)
{
    Contact c;
    c.name = name;
    c.home = home;
    c.email = email;
    return *m_contacts->insert(c);
}

void TestAnswers::lastAndUnknownCalls()
{
    const qint64 ann = add(QStringLiteral("Lee, Ann"), QStringLiteral("555-1"));
    for (int i = 0; i < 12; ++i)
        QVERIFY(m_calls->add(m_t0.addSecs(i * 60), QStringLiteral("555-1"), ann));
    QVERIFY(m_calls->add(m_t0.addSecs(3600), QStringLiteral("555-9"), std::nullopt));

    const QString reply = ask(QStringLiteral("STATS:LAST;3"));
    QVERIFY(reply.startsWith(QLatin1String("STATS:LAST;3#03Unknown,")));
    StatsView last = view(reply);
    QCOMPARE(last.kind, QStringLiteral("STATS:LAST"));
    QCOMPARE(last.fields.size(), 9);
    QCOMPARE(last.fields.mid(0, 3),
             (QStringList{QStringLiteral("Unknown"), replies::formatTime(m_t0.addSecs(3600)),
                          QStringLiteral("555-9")}));
    QCOMPARE(last.fields[3], QStringLiteral("Lee; Ann")); // the comma would shift the columns
    QCOMPARE(last.fields[4], replies::formatTime(m_t0.addSecs(11 * 60)));

    // A count that is not a positive number gives ten records, never an error.
    QCOMPARE(view(ask(QStringLiteral("STATS:LAST;abc"))).fields.size(), 30);
    QCOMPARE(view(ask(QStringLiteral("STATS:LAST;"))).fields.size(), 30);

    StatsView unknown = view(ask(QStringLiteral("STATS:UNKN;10")));
    QCOMPARE(unknown.kind, QStringLiteral("STATS:UNKN"));
    QCOMPARE(unknown.fields.size(), 3);
    QCOMPARE(unknown.fields[2], QStringLiteral("555-9"));
}

void TestAnswers::topCallersCountUnrecognisedCalls()
{
    const qint64 ann = add(QStringLiteral("Ann"), QStringLiteral("555-1"));
    const qint64 bob = add(QStringLiteral("Bob"), QStringLiteral("555-2"));
    add(QStringLiteral("Never called"), QStringLiteral("555-3"));
    for (int i = 0; i < 2; ++i)
        QVERIFY(m_calls->add(m_t0, QStringLiteral("555-1"), ann));
    QVERIFY(m_calls->add(m_t0, QStringLiteral("555-2"), bob));
    // Three calls from a number nobody had then; Carl has it now (in another format).
    for (int i = 0; i < 3; ++i)
        QVERIFY(m_calls->add(m_t0, QStringLiteral("555-4"), std::nullopt));
    const qint64 carl = add(QStringLiteral("Carl"), QStringLiteral("5554"));

    const QString reply = ask(QStringLiteral("STATS:TOPS;10"));
    QVERIFY(reply.startsWith(QLatin1String("STATS:TOPS;3#09")));
    const StatsView top = view(reply);
    QCOMPARE(top.kind, QStringLiteral("STATS:TOPS"));
    QCOMPARE(top.fields.size(), 27); // three callers; who never called is no top caller
    // ID, name, home, mobile, business phone, business fax, e-mail, calls, unrecognised.
    QCOMPARE(top.fields.mid(0, 9),
             (QStringList{QString::number(carl), QStringLiteral("Carl"), QStringLiteral("5554"),
                          QString(), QString(), QString(), QString(), QStringLiteral("3"),
                          QStringLiteral("3")}));
    QCOMPARE(top.fields[9], QString::number(ann));
    QCOMPARE(top.fields.mid(16, 2), (QStringList{QStringLiteral("2"), QStringLiteral("0")}));
    QCOMPARE(top.fields[18], QString::number(bob));

    QCOMPARE(view(ask(QStringLiteral("STATS:TOPS;1"))).fields.size(), 9);
}

void TestAnswers::contactListHasEveryContact()
{
    const qint64 ann = add(QStringLiteral("Ann"), QStringLiteral("555-1"), QStringLiteral("a@x"));
    add(QStringLiteral("Bob"), QString());
    QVERIFY(m_calls->add(m_t0, QStringLiteral("555-1"), ann));
    const StatsView list = view(ask(QStringLiteral("STATS:CNTS;00")));
    QCOMPARE(list.kind, QStringLiteral("STATS:CNTS"));
    QCOMPARE(list.fields.size(), 18);
    QCOMPARE(list.fields.mid(0, 9),
             (QStringList{QString::number(ann), QStringLiteral("Ann"), QStringLiteral("555-1"),
                          QString(), QString(), QString(), QStringLiteral("a@x"),
                          QStringLiteral("1"), QStringLiteral("0")}));
    QCOMPARE(list.fields.mid(16), (QStringList{QStringLiteral("0"), QStringLiteral("0")}));

    m_contacts.reset();
    m_calls.reset();
    Database empty;
    QVERIFY(empty.open(m_dir->filePath(QStringLiteral("empty.sqlite"))));
    ContactStore none(empty);
    CallLog noCalls(empty);
    QCOMPARE(*answers::answer(QStringLiteral("STATS:CNTS;00"), none, noCalls),
             QStringLiteral("STATS:CNTS;0#09"));
}

void TestAnswers::searchAndBrowse()
{
    const qint64 a = add(QStringLiteral("Anna Smith"), QStringLiteral("555-1"));
    const qint64 b = add(QStringLiteral("Bob"), QStringLiteral("555-2"));
    const qint64 c = add(QStringLiteral("Cara SMITHERS"), QStringLiteral("555-3"));
    const QString ids = QStringLiteral("%1,%2").arg(a).arg(c);

    QCOMPARE(ask(QStringLiteral("CNTAC:SEAR;NAME;smith")),
             QStringLiteral("CNTAC:SEAR;Anna Smith,555-1,,,,,%1,%2").arg(a).arg(ids));
    // Browsing shows the asked-for record first and the same list.
    QCOMPARE(ask(QStringLiteral("CNTAC:SEAR;NAME;smith,@RECORD:%1").arg(c)),
             QStringLiteral("CNTAC:SEAR;Cara SMITHERS,555-3,,,,,%1,%2").arg(c).arg(ids));
    QCOMPARE(ask(QStringLiteral("CNTAC:SEAR;NAME;nobody")), QStringLiteral("CNTAC:SEAR;None"));
    QCOMPARE(ask(QStringLiteral("CNTAC:SEAR;ALLF;")),
             QStringLiteral("CNTAC:SEAR;Anna Smith,555-1,,,,,%1,%1,%2,%3").arg(a).arg(b).arg(c));
    QCOMPARE(ask(QStringLiteral("CNTAC:SEAR;PHON;555-2")),
             QStringLiteral("CNTAC:SEAR;Bob,555-2,,,,,%1,%1").arg(b));

    for (const QString& bad : {QStringLiteral("CNTAC:SEAR;NAME;smith,@RECORD:0"),
                               QStringLiteral("CNTAC:SEAR;NAME;smith,@RECORD:999"),
                               QStringLiteral("CNTAC:SEAR;NAME;smith,@RECORD:99999999999999999999"),
                               QStringLiteral("CNTAC:SEAR;WHAT;smith"),
                               QStringLiteral("CNTAC:SEAR;"), QStringLiteral("CNTAC:")}) {
        QVERIFY2(ask(bad).startsWith(QLatin1String("CNTAC:ERRO;")), qPrintable(bad));
    }
}

void TestAnswers::saveUpdatesAndCreates()
{
    const qint64 a = add(QStringLiteral("Ann"), QStringLiteral("555-1"));
    const QString saved =
        ask(QStringLiteral("CNTAC:SAVE;%1,Ann Berg,555-1,555-3,ann@x,555-7,555-8").arg(a));
    QVERIFY2(saved.startsWith(QLatin1String("CNTAC:SAVE;")), qPrintable(saved));
    const Contact stored = *m_contacts->find(a);
    QCOMPARE(stored.name, QStringLiteral("Ann Berg"));
    QCOMPARE(stored.mobile, QStringLiteral("555-3"));
    QCOMPARE(stored.email, QStringLiteral("ann@x"));
    QCOMPARE(stored.businessPhone, QStringLiteral("555-7"));
    QCOMPARE(stored.businessFax, QStringLiteral("555-8"));

    const QString created = ask(QStringLiteral("CNTAC:SAVE;NEW, New One ,555-5,,,,"));
    QVERIFY2(created.startsWith(QLatin1String("CNTAC:SAVE;")), qPrintable(created));
    QCOMPARE(m_contacts->count(), qint64(2));
    const auto found = m_contacts->lookup(QStringLiteral("555-5"));
    QVERIFY(found);
    QCOMPARE(found->name, QStringLiteral(" New One "));
    QVERIFY(created.contains(QString::number(found->id)));
}

void TestAnswers::refusedSavesChangeNothing()
{
    const qint64 a = add(QStringLiteral("Ann"), QStringLiteral("555-1"));
    for (const QString& bad :
         {QStringLiteral("CNTAC:SAVE;%1,Lee, Ann,555-1,,,,").arg(a), // a comma in the name
          QStringLiteral("CNTAC:SAVE;%1,Ann").arg(a),
          QStringLiteral("CNTAC:SAVE;%1,X,,,,,").arg(a + 1),
          QStringLiteral("CNTAC:SAVE;abc,X,,,,,"), QStringLiteral("CNTAC:SAVE;NEW, ,,  ,,,")}) {
        QVERIFY2(ask(bad).startsWith(QLatin1String("CNTAC:ERRO;")), qPrintable(bad));
    }
    QCOMPARE(m_contacts->count(), qint64(1));
    QCOMPARE(m_contacts->find(a)->name, QStringLiteral("Ann"));
    QCOMPARE(m_contacts->find(a)->home, QStringLiteral("555-1"));
}

void TestAnswers::otherMessagesGetNoAnswer()
{
    QCOMPARE(ask(QStringLiteral("PONG_:3")), QStringLiteral("<none>"));
    QCOMPARE(ask(QStringLiteral("STATS:XXXX;10")), QStringLiteral("<none>"));
    QCOMPARE(ask(QStringLiteral("hello")), QStringLiteral("<none>"));
    QCOMPARE(ask(QString()), QStringLiteral("<none>"));
}

QTEST_GUILESS_MAIN(TestAnswers)
#include "tst_answers.moc"
