// The database and the statistics and contacts answers read from and written to it.

#include "session/protocol.h"
#include "teststore.h"

#include <QSqlQuery>

const QDateTime T0(QDate(2024, 5, 1), QTime(9, 0));
// One Berlin number written four ways, then others.
const QStringList NumberForms{"030 1234567", "+49 30 1234567", "004930 1234567",
                              "1234567",     "+49 30 7654321", "12",
                              "Private"};

class TestData final : public QObject {
    Q_OBJECT

    std::unique_ptr<DataFixture> m_f;

    static QString at(int minutes) { return replies::formatTime(T0.addSecs(minutes * 60)); }
    QString ask(const QString& request) { return m_f->ask(request); }
    // The reply if the answer matches it (a last "*" matching any rest), else the answer, to show.
    static QString asExpected(const QString& answer, const QString& reply)
    {
        return reply.endsWith('*') && answer.startsWith(reply.chopped(1)) ? reply : answer;
    }
    qint64 add(const char* name, const char* home, const char* mobile = "", const char* email = "")
    {
        return m_f->contacts.insert(Contact{0, name, home, mobile, email, {}, {}}).value_or(-1);
    }

private slots:
    void cleanup() { m_f.reset(); }
    // Contacts 1 to 4, five calls: two from a number only Carl (added later) has, written apart.
    void init()
    {
        QString why; // the store the test is to run against is missing
        if (teststore::postgres() && !PostgresCluster::shared(&why))
            QSKIP(qPrintable(why));
        m_f = std::make_unique<DataFixture>();
        QVERIFY(m_f->open());
        QVERIFY(add("Lee, Ann", "555-1000", "555 3000") == 1 && add("Bob", "5551000") == 2 &&
                add("Never", "", "", "n@x") == 3);
        const std::pair<const char*, std::optional<qint64>> calls[] = {
            {"555-1000", 1}, {"555 3000", 1}, {"555-4444", {}}, {"555-4444", {}}, {"5551000", 2}};
        for (int i = 0; i < 5; ++i) // a minute apart
            QVERIFY(m_f->calls.add(T0.addSecs(60 * i), calls[i].first, calls[i].second));
        QCOMPARE(add("Carl", "", "(555) 444-4"), 4);
    }

    // Others' notices count only as a server writes them, a number only as ring takes one;
    // contacts notices that come in together (K: contacts, C: a call) empty the index once.
    void notices_data()
    {
        QTest::addColumn<QStringList>("notices");
        QTest::addColumn<QStringList>("announced");
        QTest::addColumn<int>("reloads");
        const QString t = " 1714550400000 ", longest(64, '9');
        QTest::newRow("well-formed")
            << QStringList{"K7", "C5" + t + "5-1", "K8", "C6" + t + longest, "K7"}
            << QStringList{"5-1", longest} << 1;
        QTest::newRow("malformed")
            << (QString("K|Kx|K+7|K7 |C5 1714550400000|C5 x 5|C5 99999999999999999 5").split('|')
                << "C5" + t + " "
                << "Cx" + t + "5"
                << "C5" + t + longest + '9' << "C5" + t + "5\a5")
            << QStringList{} << 0;
    }
    void notices()
    {
        if (!teststore::postgres())
            QSKIP("PostgreSQL only");
        QFETCH(QStringList, notices);
        QFETCH(QStringList, announced);
        QFETCH(int, reloads);
        QStringList rung;
        m_f->db.setCallListener([&](const QDateTime&, const QString& number) { rung << number; });
        const quint64 generation = m_f->db.searchIndex().generation();
        Database other; // sends them in one transaction, a well-formed call last
        QVERIFY(other.open(m_f->db.path()));
        QSqlQuery& notify = other.statement("SELECT pg_notify(?, ?)");
        QVERIFY(other.transaction([&] {
            bool sent = true;
            for (const QString& n : notices + QStringList{"C5 1714550400000 last"})
                sent = sent &&
                       other.exec(notify,
                                  {n[0] == 'K' ? "quillora_contacts" : "quillora_calls", n.mid(1)});
            return sent;
        }));
        QTRY_VERIFY(rung.contains("last"));
        QCoreApplication::processEvents(); // what was put off to the next turn
        QCOMPARE(rung, announced + QStringList{"last"});
        QCOMPARE(m_f->db.searchIndex().generation() - generation, quint64(reloads));
    }

    void answers_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("reply"); // a trailing "*" matches any rest
        const auto row = [](const char* request, const QString& reply) {
            QTest::newRow(request) << QString::fromLatin1(request) << reply;
        };
        const QString ann = QStringLiteral("1,Lee; Ann,555-1000,555 3000,,,,2,0");
        const QString carl = QStringLiteral("4,Carl,,(555) 444-4,,,,2,2");
        const QString unknown = QStringLiteral("Unknown,%1,555-4444,Unknown,%2,555-4444");
        row("STATS:LAST;4", QStringLiteral("STATS:LAST;4#03Bob,%1,5551000,%2,Lee; Ann,%3,555 3000")
                                .arg(at(4), unknown.arg(at(3), at(2)), at(1)));
        row("STATS:UNKN;99999999999999999999", "STATS:UNKN;2#03" + unknown.arg(at(3), at(2)));
        // Calls nobody was known for count for whoever has the number now.
        row("STATS:TOPS;2", "STATS:TOPS;2#09" + ann + ',' + carl);
        row("STATS:CNTS;00",
            "STATS:CNTS;4#09" + ann + ",2,Bob,5551000,,,,,1,0,3,Never,,,,,n@x,0,0," + carl);
        row("CNTAC:SEAR;NAME;LEE", "CNTAC:SEAR;Lee; Ann,555-1000,555 3000,,,,1,1");
        row("CNTAC:SEAR;PHON;5551000", "CNTAC:SEAR;Bob,5551000,,,,,2,2");
        row("CNTAC:SEAR;ALLF;", "CNTAC:SEAR;Lee; Ann,555-1000,555 3000,,,,1,1,2,3,4");
        row("CNTAC:SEAR;ALLF;n,@RECORD:3", "CNTAC:SEAR;Never,,,n@x,,,3,1,3");
        for (const char* none :
             {"CNTAC:SEAR;NAME;nobody", "CNTAC:SEAR;ALLF;%", "CNTAC:SEAR;ALLF;'"})
            row(none, "CNTAC:SEAR;None");
        for (const char* refused :
             {"CNTAC:SEAR;NAME;x,@RECORD:99", "CNTAC:SEAR;NAME;x,@RECORD:99999999999999999999",
              "CNTAC:SEAR;WHAT;x", "CNTAC:", "CNTAC:SAVE;1,Lee, Ann,555-1000,,,,",
              "CNTAC:SAVE;1,Ann", "CNTAC:SAVE;9,X,,,,,", "CNTAC:SAVE;x1,X,,,,,",
              "CNTAC:SAVE;NEW, ,,  ,,,"})
            row(refused, "CNTAC:ERRO;*");
    }

    void answers()
    {
        QFETCH(QString, request);
        QFETCH(QString, reply);
        QCOMPARE(asExpected(ask(request), reply), reply);
    }

    // A search reply beginning "None" reads as "nothing found": such a name (contacts 5 to 8, as
    // stored by older servers) shows only when no other match can, is never browsed to or saved.
    // Refused too, nothing written: a new contact with the database full (a change goes), a save
    // past a client's minute, a field with a control character (not its neighbours) or too long.
    void writes_data()
    {
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QString>("reply"); // to the last one; a trailing "*" matches any rest
        QTest::addColumn<int>("most");      // contacts
        QTest::addColumn<int>("perMinute");
        const auto row = [](const char* name, const QStringList& requests, const QString& reply,
                            int most = 99, int perMinute = 99) {
            QTest::newRow(name) << requests << reply << most << perMinute;
        };
        const QString refused = "CNTAC:ERRO;Record not saved: a name that begins with \"None\"*";
        row("another match first", {"CNTAC:SEAR;NAME;baker"}, "CNTAC:SEAR;Baker Nones,,,,,,8,8");
        row("case matters", {"CNTAC:SEAR;NAME;none"}, "CNTAC:SEAR;nonesuch lower,,,,,,7,7,8");
        row("none other", {"CNTAC:SEAR;EMAI;none@"}, "CNTAC:SEAR;None,,,none@x,,,6,6");
        row("browsed to", {"CNTAC:SEAR;NAME;none,@RECORD:6"}, "CNTAC:ERRO;Contact 6 cannot be*");
        row("past", {"CNTAC:SEAR;NAME;none,@RECORD:8"}, "CNTAC:SEAR;Baker Nones,,,,,,8,7,8");
        row("renamed",
            {"CNTAC:SEAR;NAME;baker", "CNTAC:SAVE;5,Sonesuch Baker,,,,,", "CNTAC:SEAR;NAME;baker"},
            "CNTAC:SEAR;Sonesuch Baker,,,,,,5,5,8");
        row("new", {"CNTAC:SAVE;NEW,Nonesuch,555-1,,,,"}, refused);
        row("update", {"CNTAC:SAVE;1,None of them,555-1000,,,,"}, refused);
        row("others saved",
            {"CNTAC:SAVE;NEW,none given,,,,,", "CNTAC:SAVE;NEW,NONE Given,,,,,",
             "CNTAC:SAVE;NEW, None Given,,,,,", "CNTAC:SEAR;NAME;given"},
            "CNTAC:SEAR;none given,,,,,,9,9,10,11");

        row("full", {"CNTAC:SAVE;NEW,Eve,,,,,", "CNTAC:SAVE;NEW,Fay,,,,,"}, "CNTAC:ERRO;*", 9);
        row("change when full", {"CNTAC:SAVE;1,Ann,,,,,"}, "CNTAC:SAVE;*", 8);
        row("fast", {"CNTAC:SAVE;NEW,Eve,,,,,", "CNTAC:SAVE;1,Ann,,,,,", "CNTAC:SAVE;2,Bo,,,,,"},
            "CNTAC:ERRO;Record not saved: 2 records have been saved from this computer*", 99, 2);
        const QStringList fields{"name",           "home number",     "mobile number",
                                 "e-mail address", "business number", "business fax"};
        int field = 0;
        for (const char16_t c : {0x00, 0x0A, 0x1B, 0x1F, 0x7F, 0x80, 0x9F, 0x061C, 0x200E, 0x200F,
                                 0x202A, 0x202E, 0x2066, 0x2069}) {
            QStringList values(6, "x");
            values[field % 6] += QChar(c);
            const QString code = QString::number(c, 16).toUpper().rightJustified(4, '0');
            row(qPrintable("U+" + code),
                {(field % 2 ? "CNTAC:SAVE;1," : "CNTAC:SAVE;NEW,") + values.join(',')},
                QString("CNTAC:ERRO;Record not saved: the %1 holds the control character U+%2*")
                    .arg(fields[field % 6], code));
            ++field;
        }
        // Each field holds MaxFieldLength characters, however many bytes they take; not one more.
        const QString longest(requests::MaxFieldLength, QChar(0xE9)); // two bytes each
        for (int i = 0; i < 6; ++i) {
            QStringList values(6, "x");
            values[i] = longest;
            row(qPrintable(fields[i] + ", longest"),
                {"CNTAC:SAVE;NEW," + values.join(','), "CNTAC:SEAR;ALLF;" + longest},
                "CNTAC:SEAR;" + values.join(',') + ",9,9");
            values[i] += 'x';
            row(qPrintable(fields[i] + ", too long"),
                {(i % 2 ? "CNTAC:SAVE;1," : "CNTAC:SAVE;NEW,") + values.join(',')}, "CNTAC:ERRO;*");
        }
        row("neighbours",
            {QString::fromUtf16(u"CNTAC:SAVE;NEW, ~,\u00a0,\u061b\u061d,\u200c\u200d\u2010,"
                                u"\u2027\u202f,\u2065\u206a")},
            "CNTAC:SAVE;*");
    }

    void writes()
    {
        QFETCH(QStringList, requests);
        QFETCH(QString, reply);
        QFETCH(int, most);
        QFETCH(int, perMinute);
        for (const char* name : {"Nonesuch Baker", "None", "nonesuch lower", "Baker Nones"})
            QVERIFY(add(name, "", "", name[4] ? "" : "none@x") > 0); // 5 to 8
        SaveRate rate(perMinute);
        const answers::SaveLimits limits{most, &rate, QHostAddress::LocalHost};
        QString answer, before;
        for (const QString& request : std::as_const(requests)) {
            before = ask("STATS:CNTS;00");
            answer = *answers::answer(request, m_f->contacts, m_f->calls, replies::MaxReplyBytes,
                                      limits);
        }
        QCOMPARE(asExpected(answer, reply), reply);
        if (answer.startsWith("CNTAC:ERRO;")) // nothing written
            QCOMPARE(ask("STATS:CNTS;00"), before);
    }

    // A number is looked up by its exact text first, then by its digits (the lowest ID), and
    // numbers of a contact added later count too. Saves are stored, found, and all or nothing.
    void lookupAndSaves()
    {
        QStringList ids;
        for (const char* number :
             {"555-1000", "5551000", "(555) 100-0", " 5551000 ", "555-4444", "555-9999", "unknown"})
            ids << QString::number(m_f->contacts.lookup(number).value_or(Contact{}).id);
        QCOMPARE(ids.join(' '), "1 2 1 2 4 0 0");
        QVERIFY(ask("CNTAC:SAVE;1,Ann Berg,,555-3,a@x,555-7,555-8").startsWith("CNTAC:SAVE;"));
        QCOMPARE(ask("CNTAC:SEAR;NAME;berg"), "CNTAC:SEAR;Ann Berg,,555-3,a@x,555-7,555-8,1,1");
        // The numbers follow the record, and the call log shows the current name.
        QVERIFY(ask("CNTAC:SEAR;NAME;lee") == "CNTAC:SEAR;None" &&
                m_f->contacts.lookup("555-1000")->id == 2);
        QVERIFY(ask("STATS:LAST;5").endsWith("Ann Berg," + at(0) + ",555-1000"));
        QVERIFY(ask("CNTAC:SAVE;NEW, New Oné ,555-5,,,,").startsWith("CNTAC:SAVE;"));
        QCOMPARE(ask("CNTAC:SEAR;NAME;new"), "CNTAC:SEAR; New Oné ,555-5,,,,,5,5");
        // A reply of exactly the byte limit goes whole; a byte less drops the last record.
        const QString all = ask("STATS:CNTS;00");
        const qsizetype bytes = protocol::encode(all).size();
        QCOMPARE(m_f->ask("STATS:CNTS;00", bytes), all);
        QCOMPARE(m_f->ask("STATS:CNTS;00", bytes - 1),
                 all.left(all.indexOf(",5, New")).replace("CNTS;5#", "CNTS;4#"));

        // The second number of a save cannot be stored: nothing of the save may stay behind.
        const QString before = ask("CNTAC:SEAR;ALLF;");
        QVERIFY(m_f->db.execute(
            "CREATE UNIQUE INDEX refuse ON contact_numbers (digits) WHERE digits = '000'"));
        for (const char* save : {"CNTAC:SAVE;NEW,Half,000,0-0-0,,,", "CNTAC:SAVE;1,X,000,0-0-0,,,"})
            QVERIFY(ask(save).startsWith("CNTAC:ERRO;"));
        QVERIFY(ask("CNTAC:SEAR;ALLF;") == before && m_f->contacts.lookup("555-8")->id == 1);
        // Another process's writes are noticed (in PostgreSQL, once its notification is in).
        Database other;
        QVERIFY(other.open(m_f->db.path()));
        const qint64 id =
            ContactStore(other).insert(Contact{0, "Elsewhere", {}, {}, {}, {}, {}}).value_or(0);
        QTRY_COMPARE(ask("CNTAC:SEAR;NAME;elsewhere"),
                     QStringLiteral("CNTAC:SEAR;Elsewhere,,,,,,%1,%1").arg(id));
        // The count the limit on contacts reads follows every writer, row by row or not.
        QVERIFY(other.execute("INSERT INTO contacts (name) SELECT name FROM contacts") &&
                other.execute("DELETE FROM contacts WHERE id = 3"));
        QVERIFY(m_f->contacts.tally() == 11 && m_f->contacts.count() == 11);
        // The URL's sslmode and sslrootcert (quoted) reach the driver: PostgreSQL here has no TLS.
        Database tls;
        QVERIFY(!teststore::postgres() ||
                (!tls.open(m_f->db.path() + "?sslmode=require&sslrootcert=%2Fit's") &&
                 tls.errorText().contains("server does not support SSL")));
        // A log kept before calls had the number they were made to gains it at the next start.
        QVERIFY(m_f->db.execute("ALTER TABLE calls DROP COLUMN called") &&
                (teststore::postgres() || m_f->db.execute("PRAGMA user_version = 1")));
        Database reopened;
        QVERIFY(reopened.open(m_f->db.path()));
        QVERIFY(CallLog(reopened).add(T0, "030 1", {}, "030 2"));
    }

    // With the site's numbering, a caller written nationally, internationally or locally finds
    // the contact saved any of those ways; another number, a short one and a withheld one find
    // none. Without it, only the same digits match.
    void numbersHoweverWritten_data()
    {
        QTest::addColumn<int>("form");
        for (int form = 0; form < 4; ++form)
            QTest::newRow(qPrintable(NumberForms[form])) << form;
    }
    void numbersHoweverWritten()
    {
        QFETCH(int, form);
        const qint64 id =
            m_f->contacts.insert(Contact{0, "B", {}, NumberForms[form], {}, {}, {}}).value_or(0);
        const Numbering berlin("de", "30");
        QStringList found, expected;
        for (const Numbering* numbering : {&berlin, static_cast<const Numbering*>(nullptr)}) {
            m_f->contacts.setNumbering(numbering);
            for (const QString& caller : NumberForms) {
                found << QString::number(m_f->contacts.lookup(caller).value_or(Contact{}).id);
                const bool same = numbering ? NumberForms.indexOf(caller) < 4
                                            : NumberForms.indexOf(caller) == form;
                expected << QString::number(same ? id : 0);
            }
        }
        QCOMPARE(found, expected);
    }

    // A client saves again once the oldest save of its last minute is a minute old; others go on.
    void saveRate()
    {
        SaveRate rate(2);
        const QHostAddress a("10.0.0.1");
        const QList<qint64> waits{rate.take(a, 0),     rate.take(a, 1000),
                                  rate.take(a, 2000),  rate.take(QHostAddress("10.0.0.2"), 2000),
                                  rate.take(a, 60000), rate.take(a, 60500)};
        QCOMPARE(waits, (QList<qint64>{0, 0, 58000, 0, 0, 500}));
    }
};

QTEST_GUILESS_MAIN(TestData)
#include "tst_data.moc"
