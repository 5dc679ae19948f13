// Every limit the server states, at its edge: at the limit accepted, one past it refused.

#include "answers.h"
#include "bulkfill.h"
#include "replyjob.h"
#include "session/protocol.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime T0(QDate(2024, 5, 1), QTime(9, 0));

} // namespace

class TestLimits final : public QObject {
    Q_OBJECT

    struct Fixture {
        QTemporaryDir dir;
        Database db;
        ContactStore contacts{db};
        CallLog calls{db};
    };
    std::unique_ptr<Fixture> m_f;

    QString ask(const QString& request, qsizetype maxBytes = replies::MaxReplyBytes)
    {
        return answers::answer(request, m_f->contacts, m_f->calls, maxBytes).value_or("<none>");
    }

private slots:
    void init()
    {
        m_f = std::make_unique<Fixture>();
        QVERIFY(m_f->db.open(m_f->dir.filePath("l.sqlite")));
    }
    void cleanup() { m_f.reset(); }

    // Each of the six fields of a save holds MaxFieldLength characters, however many bytes
    // they take; one more and nothing is written.
    void savedFieldLength()
    {
        const QString longest(requests::MaxFieldLength, QChar(0xE9)); // two bytes each
        for (int field = 0; field < 6; ++field) {
            QStringList fields(6, QStringLiteral("x"));
            fields[field] = longest;
            QVERIFY(ask("CNTAC:SAVE;NEW," + fields.join(',')).startsWith("CNTAC:SAVE;New record"));
            fields[field] += 'x';
            QVERIFY(ask("CNTAC:SAVE;NEW," + fields.join(',')).startsWith("CNTAC:ERRO;"));
            QVERIFY(ask("CNTAC:SAVE;1," + fields.join(',')).startsWith("CNTAC:ERRO;"));
        }
        QCOMPARE(m_f->contacts.count(), 6);
        QCOMPARE(m_f->contacts.find(1)->name, longest);
        QCOMPARE(ask("CNTAC:SAVE;NEW,Ann,,," + longest + "xy,,"),
                 "CNTAC:ERRO;Record not saved: the e-mail address is 1002 characters long, but a "
                 "field can hold at most 1000 characters.");
    }

    // At exactly the length of the whole reply all of it goes; one byte less leaves the
    // last record (or ID) out, and a statistics header counts one record less.
    void repliesAtTheByteLimit()
    {
        for (const char* name : {"Ann \xC3\xA9", "Bob \xC3\xA9", "Cy \xC3\xA9"}) {
            QVERIFY(m_f->contacts.insert(Contact{0, QString::fromUtf8(name), {}, {}, {}, {}, {}}));
            QVERIFY(m_f->calls.add(T0, QString::fromUtf8(name).left(3), std::nullopt));
        }
        const struct {
            const char* request;
            const char* cut; // the reply one byte short
        } cases[] = {
            {"STATS:CNTS;00", "STATS:CNTS;2#091,Ann \xC3\xA9,,,,,,0,0,2,Bob \xC3\xA9,,,,,,0,0"},
            {"STATS:LAST;5", "STATS:LAST;2#03Unknown,2024-05-01 09:00:00,Cy ,Unknown,2024-05-01 "
                             "09:00:00,Bob"},
            {"CNTAC:SEAR;ALLF;", "CNTAC:SEAR;Ann \xC3\xA9,,,,,,1,1,2"},
        };
        for (const auto& c : cases) {
            const QString whole = ask(c.request);
            const qsizetype bytes = protocol::encode(whole).size();
            QCOMPARE(ask(c.request, bytes), whole);
            QCOMPARE(ask(c.request, bytes - 1), QString::fromUtf8(c.cut));
        }
    }

    // Long lists are read a slice at a time: every record once and in order, also among
    // calls of the same second, whose order the slices must keep.
    void listsSpanningManySlices()
    {
        const int n = 3 * ReplyJob::RowsPerStep + 1;
        QVERIFY(bulkfill::addContacts(m_f->db, n));
        QVERIFY(bulkfill::addCalls(m_f->db, n, T0));
        const QStringList contacts = protocol::statsFields(ask("STATS:CNTS;00"));
        QCOMPARE(contacts.size(), 9 * n);
        for (const char* request : {"STATS:LAST;100000", "STATS:UNKN;100000"}) {
            const QString reply = ask(request);
            QVERIFY2(reply.startsWith(QString(request).left(11) + QString::number(n) + "#03"),
                     qPrintable(reply.left(20)));
            const QStringList calls = protocol::statsFields(reply);
            QCOMPARE(calls.size(), 3 * n);
            for (int i = 0; i < n; ++i) {
                QCOMPARE(contacts[9 * i], QString::number(i + 1));
                QCOMPARE(calls[3 * i + 2], "555-" + QString::number(n - i)); // the newest first
            }
        }
    }

    // Counts above 100,000 give 100,000, and the contact list holds 100,000 at most.
    void hundredThousandRecords()
    {
        const int max = requests::MaxCount;
        QVERIFY(bulkfill::addContacts(m_f->db, max + 1));
        QVERIFY(bulkfill::addCalls(m_f->db, max + 1, T0));
        for (const int count : {max, max + 1}) {
            const QString reply = ask("STATS:LAST;" + QString::number(count));
            QVERIFY2(reply.startsWith("STATS:LAST;100000#03"), qPrintable(reply.left(30)));
            QVERIFY(reply.endsWith(",555-2"));
        }
        const QString all = ask("STATS:CNTS;00");
        QVERIFY2(all.startsWith("STATS:CNTS;100000#09"), qPrintable(all.left(30)));
        QVERIFY(all.endsWith(",100000,Contact 100000,,,,,,0,0"));
    }
};

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
