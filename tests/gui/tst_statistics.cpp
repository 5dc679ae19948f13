// The statistics window against a loopback server: query, replies, time-out and closing.

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QPointer>
#include <QTest>

using testsupport::boxes;

namespace {

enum Mode { LastCalls, UnrecognisedCalls, TopCallers, ContactList };

const QByteArray TwoCalls = "STATS:LAST#00Ann,12:01,5551234,Bob,12:05,5559876";
const QString CallHeader = QStringLiteral("Fullname|Call time|Call number");
const QString TwoCallsShown = CallHeader + "/Ann|12:01|5551234/Bob*|12:05*|5559876*/||";

// The grid as text: rows joined by "/", cells by "|", a shaded cell marked "*".
QString shown(const FrmStatistics* w)
{
    const GridModel& grid = w->MSFlexGrid1->grid();
    QStringList rows;
    for (int r = 0; r < grid.rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid.cols(); ++c)
            cells << grid.textMatrix(r, c) + (grid.backColorAt(r, c).isValid() ? "*" : "");
        rows << cells.join(QLatin1Char('|'));
    }
    return rows.join(QLatin1Char('/'));
}

bool locked(const FrmStatistics* w)
{
    return !w->cmdQuery->isEnabled() && !w->cmbRecords->isEnabled() && w->cmdButton->isEnabled();
}

void checkOneBox(const QString& prompt, const QString& title)
{
    QTRY_COMPARE(boxes().size(), 1);
    QCOMPARE(boxes().at(0).prompt, prompt);
    QCOMPARE(boxes().at(0).style, 64);
    QCOMPARE(boxes().at(0).title, title);
}

} // namespace

class TestStatistics : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;

    FrmStatistics* open()
    {
        if (!testsupport::connectMainWindow(*m_server))
            return nullptr;
        frmMain()->StatisticsStatistics->trigger();
        return forms::loadedOrNull<FrmStatistics>();
    }

    // Picks mode and count, clicks "Query statistic" and checks the exact request sent.
    void query(FrmStatistics* w, int mode, const QString& count, const QByteArray& expected)
    {
        m_server->clearReceived();
        w->optStatMode[mode]->setChecked(true);
        w->cmbRecords->setEditText(count);
        QTest::mouseClick(w->cmdQuery, Qt::LeftButton);
        QVERIFY(m_server->waitForReceived(expected.size()));
        QCOMPARE(m_server->received(), expected);
        QVERIFY(locked(w) && w->timerStats->isActive());
    }

    // Sends a reply and waits until it is in the mailbox.
    void deliver(const QByteArray& reply)
    {
        m_server->send(reply);
        QTRY_COMPARE(modVariables().StatsReply, QString::fromLatin1(reply));
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::LoopbackServer>();
    }
    void cleanup()
    {
        m_env.reset();
        m_server.reset();
    }

    void queryAndReply_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("grid");
        QTest::newRow("last calls")
            << int(LastCalls) << "10" << QByteArray("STATS:LAST;10") << TwoCalls << TwoCallsShown;
        // Every second row is shaded cell by cell; a partial record's unwritten cells are not.
        QTest::newRow("unrecognised, count as typed, partial record")
            << int(UnrecognisedCalls) << " 25x" << QByteArray("STATS:UNKN; 25x")
            << QByteArray("STATS:UNKN#00  Ann  Lee  ,\t1 , 2\r\n,a,b,c,d")
            << CallHeader + "/Ann  Lee|\t1|2\r\n/a*|b*|c*/d||";
        QTest::newRow("top callers")
            << int(TopCallers) << "20" << QByteArray("STATS:TOPS;20")
            << QByteArray("STATS:TOPS;20,x#,,7,Ann,1,2,3,4,a@b,12,0")
            << "ID|Fullname|Home phone|Mobile phone|Bus. phone|Bus. fax|E-mail|Calls|"
               "Unrecognized/7|Ann|1|2|3|4|a@b|12|0/||||||||";
    }
    void queryAndReply()
    {
        QFETCH(int, mode);
        QFETCH(QString, count);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        FrmStatistics* w = open();
        QVERIFY(w);
        query(w, mode, count, request);
        m_server->send(reply);
        QTRY_VERIFY(!locked(w));
        QTEST(shown(w), "grid");
        QVERIFY(!w->timerStats->isActive() && modVariables().StatsReply.isEmpty());
        QVERIFY(boxes().isEmpty());
    }

    // 12000 twips at load; a reply resizes to its layout's width only with "On query
    // resize" ticked; the grid follows the window's height only above 3700 twips.
    void layoutAndResizeRules()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        QCOMPARE(w->windowWidth(), 12000);
        query(w, LastCalls, "10", "STATS:LAST;10");
        m_server->send(TwoCalls);
        QTRY_VERIFY(!locked(w));
        QCOMPARE(w->windowWidth(), 9300);
        w->chkResize->setChecked(false);
        query(w, TopCallers, "10", "STATS:TOPS;10");
        m_server->send("STATS:TOPS#,7,Ann,1,2,3,4,a@b,12,0");
        QTRY_VERIFY(!locked(w));
        QCOMPARE(w->windowWidth(), 9300);
        w->chkResize->setChecked(true);
        query(w, TopCallers, "10", "STATS:TOPS;10");
        m_server->send("STATS:TOPS#,7,Ann,1,2,3,4,a@b,12,0");
        QTRY_VERIFY(!locked(w));
        QCOMPARE(w->windowWidth(), 13350);

        w->setWindowHeight(6000);
        const int tall = w->MSFlexGrid1->height();
        w->setWindowHeight(3500);
        QCOMPARE(w->MSFlexGrid1->height(), tall);
        w->setWindowHeight(5000);
        QVERIFY(w->MSFlexGrid1->height() < tall);
    }

    void pollerTimeOutAndLateReplies()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        // Two replies before a tick, on the very last one: the second shows, no time-out,
        // and whole: it is no answer to the query for one record of another kind.
        query(w, UnrecognisedCalls, QStringLiteral("1"), "STATS:UNKN;1");
        w->timerStats->stop(); // the test drives the ticks
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        deliver("STATS:UNKN#00first,1,2");
        deliver(TwoCalls);
        w->timerStats_Timer();
        QCOMPARE(shown(w), TwoCallsShown);
        QVERIFY(!locked(w) && modVariables().StatsReply.isEmpty());

        // Another kind is consumed silently: header and first data row stay.
        query(w, ContactList, QStringLiteral("10"), "STATS:CNTS;00");
        m_server->send("STATS:XXXX#00a,b");
        QTRY_VERIFY(!locked(w));
        QCOMPARE(shown(w), CallHeader + "/Ann|12:01|5551234");

        // The 501st tick without a reply unlocks, keeps the grid and shows the box.
        query(w, TopCallers, QStringLiteral("10"), "STATS:TOPS;10");
        w->timerStats->stop();
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        QVERIFY(locked(w));
        w->timerStats_Timer();
        QVERIFY(!locked(w));
        modVariables().StatsReply = QStringLiteral("arrived while the box is up");
        checkOneBox(QStringLiteral("The query timed out. Please try again. If the error presists, "
                                   "then please try to reconnect."),
                    QStringLiteral("Query statistic"));
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(shown(w), CallHeader + "/Ann|12:01|5551234");

        // A late reply waits in the mailbox with no poller running; the next query drops it.
        deliver("STATS:LAST#00late,1,2");
        QVERIFY(!w->timerStats->isActive());
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QVERIFY(modVariables().StatsReply.isEmpty());
        m_server->send("STATS:LAST#00fresh,3,4");
        QTRY_VERIFY(!locked(w));
        QCOMPARE(shown(w), CallHeader + "/fresh|3|4/||");
        QCOMPARE(boxes().size(), 1);
    }

    // The time-out counts the ticks in which nothing of the reply arrived: a slow link
    // that keeps delivering is not timed out, a stalled one is.
    void replyStillArrivingIsNotTimedOut()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        frmMain()->sckConnect().setQuietInterval(60000); // held until it is complete
        query(w, ContactList, QStringLiteral("10"), "STATS:CNTS;00");
        w->timerStats->stop(); // the test drives the ticks
        const auto ticks = [w](int n) {
            for (int i = 0; i < n; ++i)
                w->timerStats_Timer();
        };
        ticks(FrmStatistics::TimeoutTicks);
        QVERIFY(locked(w));
        m_server->send("STATS:CNTS;2#01");
        QTRY_VERIFY(frmMain()->sckConnect().heldStatsBytes() > 0);
        ticks(1); // the 501st tick, but the reply has begun: no time-out
        QVERIFY(locked(w));
        ticks(FrmStatistics::TimeoutTicks);
        m_server->send("7,");
        QTRY_VERIFY(frmMain()->sckConnect().heldStatsBytes() > 15);
        ticks(FrmStatistics::TimeoutTicks + 1);
        QVERIFY(locked(w) && boxes().isEmpty());
        ticks(1); // 501 ticks since the last part came
        QVERIFY(!locked(w));
        checkOneBox(QStringLiteral("The query timed out. Please try again. If the error presists, "
                                   "then please try to reconnect."),
                    QStringLiteral("Query statistic"));
    }

    void closingAndLosingTheConnection()
    {
        // Close empties the mailbox, and a reply to the closed window's query that comes
        // later is not kept in it.
        FrmStatistics* w = open();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop();
        deliver(TwoCalls);
        QTest::mouseClick(w->cmdButton, Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmStatistics>());
        QVERIFY(modVariables().StatsReply.isEmpty());
        w = open();
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QTest::mouseClick(w->cmdButton, Qt::LeftButton);
        m_server->send(TwoCalls);
        QTest::qWait(200);
        QVERIFY(modVariables().StatsReply.isEmpty());

        // Losing the connection during a query closes the window with a box.
        w = open();
        QVERIFY(w);
        QPointer<FrmStatistics> gone(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        m_server->closeClient();
        QTRY_VERIFY(gone.isNull());
        checkOneBox(QStringLiteral("You are currently not connected."),
                    QStringLiteral("Statistics."));
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
