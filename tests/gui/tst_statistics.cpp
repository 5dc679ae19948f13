// The statistics window against a loopback server: opening, layout, the query, the
// reply poller filling the grid, the time-out, closing and the connection watch.

#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/twips.h"
#include "statistics/frmstatistics.h"
#include "testsupport.h"

#include <QHeaderView>
#include <QPointer>
#include <QTest>
#include <memory>

using testsupport::boxes;

namespace {

enum Mode { LastCalls, UnrecognisedCalls, TopCallers, ContactList };

const QByteArray TwoCalls = "STATS:LAST#00Ann,12:01,5551234,Bob,12:05,5559876";
const QString NotConnected = QStringLiteral("You are currently not connected.");

QString row(const GridModel& grid, int r)
{
    QStringList cells;
    for (int c = 0; c < grid.cols(); ++c)
        cells << grid.textMatrix(r, c) + (grid.backColorAt(r, c).isValid() ? "*" : "");
    return cells.join(QLatin1Char('|'));
}

bool locked(const FrmStatistics* w)
{
    return !w->cmdQuery->isEnabled() && !w->cmbRecords->isEnabled() &&
           !w->optStatMode[0]->isEnabled() && w->cmdButton->isEnabled();
}

} // namespace

class TestStatistics : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;

    // Connects the main window and opens the statistics window from its menu.
    FrmStatistics* open()
    {
        if (!testsupport::connectMainWindow(*m_server))
            return nullptr;
        frmMain()->StatisticsStatistics->trigger();
        QCoreApplication::processEvents();
        return forms::loadedOrNull<FrmStatistics>();
    }

    // Picks mode and count, clicks "Query statistic" and checks the request sent.
    void query(FrmStatistics* w, int mode, const QString& count, const QByteArray& expected)
    {
        m_server->clearReceived();
        w->optStatMode[mode]->setChecked(true);
        w->cmbRecords->setEditText(count);
        QTest::mouseClick(w->cmdQuery, Qt::LeftButton);
        QVERIFY(m_server->waitForReceived(expected.size()));
        QCOMPARE(m_server->received(), expected);
    }

    // Sends a reply and waits until the poller has taken it.
    void answer(FrmStatistics* w, const QByteArray& reply)
    {
        m_server->send(reply);
        QTRY_VERIFY(!locked(w));
        QVERIFY(!w->timerStats->isActive());
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

    void opensOnceLaidOutAndReadable()
    {
        FrmStatistics* w = open();
        QVERIFY(w && w->isVisible() && w->timerConnectedEnabled());
        QCOMPARE(w->cmbRecords->currentText(), QStringLiteral("10"));
        QCOMPARE(w->windowWidth(), 12000);
        QCOMPARE(w->MSFlexGrid1->geometry(),
                 QRect(twips(120), twips(2160), twips(11610), twips(w->windowHeight() - 3660)));
        QCOMPARE(w->Frame1->width(), twips(11610));
        QCOMPARE(w->cmdButton->pos(), QPoint(twips(10250), twips(w->windowHeight() - 1200)));
        for (QWidget* c : std::initializer_list<QWidget*>{w->optStatMode[1], w->Label1,
                                                          w->chkResize, w->cmdQuery})
            QVERIFY2(c->width() >= c->sizeHint().width(), qPrintable(c->objectName()));
        QVERIFY(w->optStatMode[1]->geometry().right() < w->Line2[1]->x());

        // The menu again brings the same window forward as it is.
        w->cmbRecords->setEditText(QStringLiteral("33"));
        frmMain()->StatisticsStatistics->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(forms::loadedOrNull<FrmStatistics>(), w);
        QCOMPARE(w->cmbRecords->currentText(), QStringLiteral("33"));

        // At 3700 twips or less the grid keeps its height; the button follows the corner.
        const int gridHeight = w->MSFlexGrid1->height();
        w->setWindowHeight(3700);
        QCOMPARE(w->MSFlexGrid1->height(), gridHeight);
        QCOMPARE(w->cmdButton->y(), twips(3700 - 1200));
        w->resize(600, 400); // the window's own resizing
        QCOMPARE(w->MSFlexGrid1->size(),
                 QSize(twips(w->windowWidth() - 390), twips(w->windowHeight() - 3660)));
        QCOMPARE(w->cmdButton->x(), twips(w->windowWidth() - 1750));
        QVERIFY(boxes().isEmpty());
    }

    void requestTexts_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("last") << int(LastCalls) << "10" << QByteArray("STATS:LAST;10");
        QTest::newRow("count as typed")
            << int(UnrecognisedCalls) << " 25x" << QByteArray("STATS:UNKN; 25x");
        QTest::newRow("top") << int(TopCallers) << "20" << QByteArray("STATS:TOPS;20");
        QTest::newRow("empty count") << int(LastCalls) << "" << QByteArray("STATS:LAST;");
        QTest::newRow("contact list") << int(ContactList) << "50" << QByteArray("STATS:CNTS;00");
    }
    void requestTexts()
    {
        QFETCH(int, mode);
        QFETCH(QString, count);
        QFETCH(QByteArray, request);
        FrmStatistics* w = open();
        QVERIFY(w);
        modVariables().StatsReply = QStringLiteral("STATS:LAST#00stale");
        query(w, mode, count, request);
        QVERIFY(modVariables().StatsReply.isEmpty());
        QVERIFY(locked(w));
        QCOMPARE(w->QueryTicks, 0);
        QVERIFY(w->timerStats->isActive());
    }

    void repliesFillTheGrid()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        const GridModel& grid = w->MSFlexGrid1->grid();
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        answer(w, TwoCalls);
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(row(grid, 0), QStringLiteral("Fullname|Call time|Call number"));
        QCOMPARE(row(grid, 1), QStringLiteral("Ann|12:01|5551234"));
        QCOMPARE(row(grid, 2), QStringLiteral("Bob*|12:05*|5559876*"));
        QCOMPARE(row(grid, 3), QStringLiteral("||"));
        QCOMPARE(w->MSFlexGrid1->columnWidth(0), twips(4000));
        QCOMPARE(w->windowWidth(), 9300);
        QCOMPARE(w->MSFlexGrid1->width(), twips(9300 - 390));
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::False);

        query(w, TopCallers, QStringLiteral("20"), "STATS:TOPS;20");
        answer(w, "STATS:TOPS;20#00 7 ,Ann Lee,1,2,3,4,ann@example.org,12,0,"
                  "9,Bob,5,6,7,8,bob@example.org,3,1\r\n");
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(row(grid, 1), QStringLiteral("7|Ann Lee|1|2|3|4|ann@example.org|12|0"));
        QCOMPARE(grid.textMatrix(2, 8), QStringLiteral("1\r\n"));
        QCOMPARE(w->windowWidth(), 13350);
        const QHeaderView* header = w->MSFlexGrid1->horizontalHeader();
        for (int c = 0; c < grid.cols(); ++c) // captions fit their columns
            QVERIFY(header->sectionSize(c) >
                    header->fontMetrics().horizontalAdvance(grid.textMatrix(0, c)));

        // Another kind is consumed silently: header and first data row stay, no fill.
        w->chkResize->setChecked(false);
        query(w, ContactList, QStringLiteral("10"), "STATS:CNTS;00");
        answer(w, "STATS:XXXX#00a,b");
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(row(grid, 1), QStringLiteral("7|Ann Lee|1|2|3|4|ann@example.org|12|0"));
        QVERIFY(modVariables().StatsReply.isEmpty());
        query(w, ContactList, QStringLiteral("10"), "STATS:CNTS;00");
        answer(w, "STATS:LAST#00");
        QCOMPARE(w->windowWidth(), 13350); // unchecked: the width stays
        QCOMPARE(row(grid, 1), QStringLiteral("||"));
        QCoreApplication::processEvents();
        QVERIFY(boxes().isEmpty());
    }

    void timeOutKeepsTheGridAndLeavesLateRepliesAlone()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        const GridModel& grid = w->MSFlexGrid1->grid();
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        answer(w, TwoCalls);
        query(w, TopCallers, QStringLiteral("10"), "STATS:TOPS;10");
        w->timerStats->stop();
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        QCoreApplication::processEvents();
        QVERIFY(boxes().isEmpty() && locked(w));

        w->timerStats_Timer(); // the 501st tick
        QVERIFY(!locked(w));
        modVariables().StatsReply = QStringLiteral("arrived while the box is up");
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt, QStringLiteral("The query timed out. Please try again. If "
                                                      "the error presists, then please try to "
                                                      "reconnect."));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Query statistic"));
        QCOMPARE(boxes().at(0).style, 64);
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(row(grid, 2), QStringLiteral("Bob*|12:05*|5559876*"));

        // A late reply waits in the mailbox, shown by nothing; the next query empties it.
        deliver("STATS:LAST#00late,1,2");
        QTest::qWait(3 * FrmStatistics::TickMilliseconds);
        QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("Ann"));
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats_Timer();
        QVERIFY(locked(w));
        answer(w, "STATS:LAST#00fresh,3,4");
        QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("fresh"));
        QCOMPARE(boxes().size(), 1);
    }

    void lastOfTwoRepliesOnTheLastTickIsNoTimeOut()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop(); // the test drives the ticks
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        deliver("STATS:LAST#00first,1,2");
        deliver("STATS:UNKN#00second,3,4");
        w->timerStats_Timer();
        QCOMPARE(w->MSFlexGrid1->grid().rows(), 3);
        QCOMPARE(row(w->MSFlexGrid1->grid(), 1), QStringLiteral("second|3|4"));
        QTest::qWait(20);
        QVERIFY(boxes().isEmpty());
    }

    void closing()
    {
        // The Close button empties the mailbox and leaves its flag.
        FrmStatistics* w = open();
        QVERIFY(w);
        QPointer<FrmStatistics> gone(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop();
        deliver(TwoCalls);
        QTest::mouseClick(w->cmdButton, Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmStatistics>());
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::True);
        QTRY_VERIFY(gone.isNull());

        // The title bar's close stops polling; a late reply stays for the next query.
        w = open();
        QVERIFY(w);
        query(w, TopCallers, QStringLiteral("70"), "STATS:TOPS;70");
        w->close();
        deliver(TwoCalls);
        QTest::qWait(3 * FrmStatistics::TickMilliseconds);
        QCOMPARE(modVariables().StatsReply, QString::fromLatin1(TwoCalls));
        w = open(); // rebuilt from its design values
        QVERIFY(w && w->optStatMode[0]->isChecked() && !locked(w));
        QCOMPARE(w->MSFlexGrid1->grid().rows(), 2);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QVERIFY(modVariables().StatsReply.isEmpty());
        QVERIFY(boxes().isEmpty());
    }

    void losingTheConnectionClosesTheWindow()
    {
        FrmStatistics* w = open();
        QVERIFY(w);
        QPointer<FrmStatistics> gone(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        m_server->closeClient();
        QTRY_VERIFY(gone.isNull());
        QVERIFY(!forms::loadedOrNull<FrmStatistics>());
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt, NotConnected);
        QCOMPARE(boxes().at(0).title, QStringLiteral("Statistics."));
        QCOMPARE(boxes().at(0).style, 64);
        QTest::qWait(50);
        QCOMPARE(boxes().size(), 1);
    }

    void withoutAConnection()
    {
        // Opened: shown, then closed at once with its box.
        frmMain();
        showStatistics();
        QVERIFY(forms::loadedOrNull<FrmStatistics>()->isVisible());
        QTRY_VERIFY(!forms::loadedOrNull<FrmStatistics>());
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).title, QStringLiteral("Statistics."));

        // A query sends nothing and changes nothing.
        FrmStatistics* w = frmStatistics(); // loaded without its connection watch
        modVariables().StatsReply = QStringLiteral("kept");
        QTest::mouseClick(w->cmdQuery, Qt::LeftButton);
        QTRY_COMPARE(boxes().size(), 2);
        QCOMPARE(boxes().at(1).prompt, NotConnected);
        QCOMPARE(boxes().at(1).title, QStringLiteral("Query statistic"));
        QCOMPARE(modVariables().StatsReply, QStringLiteral("kept"));
        QVERIFY(!locked(w) && !w->timerStats->isActive());
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
