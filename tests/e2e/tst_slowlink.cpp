// The real windows against the real server over a slow link: the fault proxy delivers the
// server's data in 16 KB bursts 100 ms apart and holds requests back by 100 ms, so replies
// of hundreds of kilobytes come in dozens of bursts with gaps far longer than the usual
// quiet time. Each must reach its window whole.

#include "contacts/frmcontacts.h"
#include "faultproxy.h"
#include "realserver.h"
#include "serverdb.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QPointer>
#include <QTest>

namespace {

const QString Password = QStringLiteral("slow but sure");
constexpr qsizetype Burst = 16 * 1024;
constexpr int BurstIntervalMs = 100;
constexpr int ReplyWaitMs = 60000;

} // namespace

class TestSlowLink final : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::RealServer> m_server;
    std::unique_ptr<testsupport::FaultProxy> m_proxy;

    // The server with `contacts` made-up contacts, and the client connected to it through
    // the slow link.
    bool startWith(int contacts)
    {
        m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
        if (!m_server->start()) // creates the database
            return false;
        m_server->stop();
        if (!testsupport::addContacts(m_server->databasePath(), contacts) ||
            !m_server->start({"--password", Password}))
            return false;
        if (!testsupport::openDatabase(m_server->databasePath()))
            return false;

        m_proxy = std::make_unique<testsupport::FaultProxy>(m_server->port());
        m_proxy->setSlowLink(Burst, BurstIntervalMs, BurstIntervalMs);
        testsupport::storeSetting(QStringLiteral("ClientServerPassword"), Password);
        return testsupport::connectMainWindowTo(m_proxy->port()) &&
               QTest::qWaitFor([this] { return m_server->log().contains(" authenticated."); });
    }

private slots:
    void init() { m_env = std::make_unique<testsupport::Environment>(); }
    void cleanup()
    {
        testsupport::unloadAllWindows();
        testsupport::closeDatabase();
        m_proxy.reset();
        m_server.reset();
        m_env.reset();
    }

    // The contact list of 10,500 contacts: about 1 MB, some 63 bursts over 6.3 s, which
    // is most of the statistics window's time-out.
    void statisticsContactListOfAMegabyte()
    {
        QVERIFY(startWith(10500));
        QStringList expected = testsupport::dbRows(
            QStringLiteral("SELECT id, name, home, mobile, business_phone, business_fax,"
                           " email, 0, 0 FROM contacts ORDER BY id"));
        QCOMPARE(expected.size(), 10500);
        QVERIFY(expected.join(QLatin1Char(',')).size() > 1000 * 1000);

        frmMain()->StatisticsStatistics->trigger();
        QPointer<FrmStatistics> s = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(s);
        s->optStatMode[3]->setChecked(true);
        s->cmdQuery->click();
        QVERIFY(!s->Frame1->isEnabled());
        QVERIFY(QTest::qWaitFor([s] { return s && s->Frame1->isEnabled(); }, ReplyWaitMs));
        QCOMPARE(testsupport::boxes().size(), 0); // no time-out, no error
        const GridModel& grid = s->MSFlexGrid1->grid();
        QCOMPARE(grid.cols(), 9);
        QCOMPARE(testsupport::gridRows(grid),
                 expected << QString(8, QLatin1Char('|'))); // empty last row
    }

    // A search that matches 50,000 contacts: a reply of about 290 KB, nearly all IDs.
    void contactsSearchOfFiftyThousandMatches()
    {
        QVERIFY(startWith(50000));
        const QStringList ids =
            testsupport::dbRows(QStringLiteral("SELECT id FROM contacts ORDER BY id"));
        QCOMPARE(ids.size(), 50000);

        frmMain()->ToolAddEditContacts->trigger();
        QPointer<FrmContacts> w = forms::loadedOrNull<FrmContacts>();
        QVERIFY(w);
        w->optSearch[1]->setChecked(true); // by name
        w->txtSearch->setText(QStringLiteral("example"));
        w->cmdSearch->click();
        QVERIFY(QTest::qWaitFor(
            [w] { return w && w->lblInput[1]->text().contains(QLatin1String("The search found")); },
            ReplyWaitMs));
        QCOMPARE(modVariables().ContactRecords.toStringList(), ids);
        QCOMPARE(w->lblInput[0]->text(), ids.first());
        QCOMPARE(w->txtInput[0]->text(), QString("Contact 1 Example"));
        QCOMPARE(testsupport::boxes().size(), 0);
    }
};

QTEST_MAIN(TestSlowLink)
#include "tst_slowlink.moc"
