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

enum Mode { LastCalls = 0, UnrecognisedCalls = 1, TopCallers = 2, ContactList = 3 };

const QByteArray LastTwoCalls = "STATS:LAST#00Ann,12:01,5551234,Bob,12:05,5559876";

QStringList rowTexts(const GridModel& grid, int row)
{
    QStringList texts;
    for (int c = 0; c < grid.cols(); ++c)
        texts << grid.textMatrix(row, c);
    return texts;
}

bool frameLocked(const FrmStatistics* w)
{
    return !w->Frame1->isEnabled() && !w->cmdQuery->isEnabled() && !w->cmbRecords->isEnabled() &&
           !w->chkResize->isEnabled() && !w->optStatMode[0]->isEnabled();
}

} // namespace

class TestStatistics : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;

    // Connects the main window and opens the statistics window from its menu.
    FrmStatistics* openConnected()
    {
        if (!testsupport::connectMainWindow(*m_server))
            return nullptr;
        frmMain()->StatisticsStatistics->trigger();
        QCoreApplication::processEvents();
        return forms::loadedOrNull<FrmStatistics>();
    }

    // Picks the mode and count, clicks "Query statistic" and waits for the request.
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
        QTRY_VERIFY(w->Frame1->isEnabled());
        QVERIFY(!w->timerStats->isActive());
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

    void opensFromTheMenuAtDesignValues()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QVERIFY(w->timerConnectedEnabled());
        QCOMPARE(w->windowTitle(), QStringLiteral("Quillora Client [Statistics]"));
        QCOMPARE(w->Frame1->title(), QStringLiteral("Statistic mode"));
        const QStringList captions{"Last calls", "Unregconized calls", "Top callers",
                                   "Contact list"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(w->optStatMode[i]->text(), captions.at(i));
            QCOMPARE(w->optStatMode[i]->isChecked(), i == 0);
        }
        QCOMPARE(w->cmbRecords->currentText(), QStringLiteral("10"));
        QCOMPARE(w->cmbRecords->count(), 10);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(w->cmbRecords->itemText(i), QString::number(10 * (i + 1)));
        QCOMPARE(w->Label1->text(), QStringLiteral("records "));
        QVERIFY(w->chkResize->isChecked());
        QCOMPARE(w->chkResize->text(), QStringLiteral("On query resize"));
        QCOMPARE(w->cmdQuery->text(), QStringLiteral("Query statistic"));
        QCOMPARE(w->cmdButton->text(), QStringLiteral("Close"));
        QVERIFY(!w->timerStats->isActive());
        QVERIFY(w->Frame1->isEnabled());

        // Choosing the menu again brings the same window forward, as it is.
        w->cmbRecords->setEditText(QStringLiteral("33"));
        frmMain()->StatisticsStatistics->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(forms::loadedOrNull<FrmStatistics>(), w);
        QCOMPARE(w->cmbRecords->currentText(), QStringLiteral("33"));
        QVERIFY(boxes().isEmpty());
    }

    void captionsAreNotCut()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        const QList<QWidget*> captioned{w->optStatMode[0], w->optStatMode[1], w->optStatMode[2],
                                        w->optStatMode[3], w->Label1,         w->chkResize,
                                        w->cmdQuery,       w->cmdButton};
        for (QWidget* control : captioned) {
            QVERIFY2(control->width() >= control->sizeHint().width(),
                     qPrintable(control->objectName()));
            QVERIFY2(control->geometry().right() < w->Frame1->width() || control == w->cmdButton,
                     qPrintable(control->objectName()));
        }
        // The options stay left of the bracket.
        for (QWidget* option : w->optStatMode)
            QVERIFY(option->geometry().right() < w->Line2[1]->x());

        query(w, TopCallers, QStringLiteral("10"), "STATS:TOPS;10");
        answer(w, "STATS:TOPS#00");
        const QHeaderView* header = w->MSFlexGrid1->horizontalHeader();
        QCOMPARE(header->count(), 9);
        for (int c = 0; c < header->count(); ++c) {
            const QString caption = w->MSFlexGrid1->grid().textMatrix(0, c);
            const int needed = header->fontMetrics().horizontalAdvance(caption);
            QVERIFY2(header->sectionSize(c) > needed, qPrintable(caption));
        }
    }

    void layoutAtLoadAndOnResize()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        QCOMPARE(w->windowWidth(), 12000);
        QCOMPARE(w->windowHeight(), 7080);
        QCOMPARE(w->MSFlexGrid1->geometry(),
                 QRect(twips(120), twips(2160), twips(11610), twips(7080 - 3660)));
        QCOMPARE(w->Frame1->width(), twips(11610));
        QCOMPARE(w->cmdButton->pos(), QPoint(twips(10250), twips(7080 - 1200)));

        // At 3700 twips or less the grid keeps its height; the button follows the corner.
        const int gridHeight = w->MSFlexGrid1->height();
        w->setWindowHeight(3700);
        QCOMPARE(w->MSFlexGrid1->height(), gridHeight);
        QCOMPARE(w->cmdButton->y(), twips(3700 - 1200));
        w->setWindowHeight(5000);
        QCOMPARE(w->MSFlexGrid1->height(), twips(5000 - 3660));

        // The window's own resizing goes the same way.
        w->resize(600, 400);
        const int width = w->windowWidth();
        QCOMPARE(w->MSFlexGrid1->width(), twips(width - 390));
        QCOMPARE(w->Frame1->width(), twips(width - 390));
        QCOMPARE(w->cmdButton->pos(), QPoint(twips(width - 1750), twips(w->windowHeight() - 1200)));
        QCOMPARE(w->MSFlexGrid1->height(), twips(w->windowHeight() - 3660));
    }

    void queryRequestTexts_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("last calls") << int(LastCalls) << "10" << QByteArray("STATS:LAST;10");
        QTest::newRow("unrecognised, count as typed")
            << int(UnrecognisedCalls) << " 25x" << QByteArray("STATS:UNKN; 25x");
        QTest::newRow("top callers") << int(TopCallers) << "20" << QByteArray("STATS:TOPS;20");
        QTest::newRow("empty count") << int(LastCalls) << "" << QByteArray("STATS:LAST;");
        QTest::newRow("contact list ignores the count")
            << int(ContactList) << "50" << QByteArray("STATS:CNTS;00");
    }
    void queryRequestTexts()
    {
        QFETCH(int, mode);
        QFETCH(QString, count);
        QFETCH(QByteArray, request);
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        modVariables().StatsReply = QStringLiteral("STATS:LAST#00stale");
        query(w, mode, count, request);
        QVERIFY(modVariables().StatsReply.isEmpty());
        QVERIFY(frameLocked(w));
        QCOMPARE(w->QueryTicks, 0);
        QVERIFY(w->timerStats->isActive());
        QCOMPARE(w->timerStats->interval(), FrmStatistics::TickMilliseconds);
        // Typing a count never adds it to the list.
        QCOMPARE(w->cmbRecords->count(), 10);
    }

    void wholeCycleLocksFillsAndUnlocks()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QVERIFY(frameLocked(w));
        // A locked window starts no second query.
        m_server->clearReceived();
        QTest::mouseClick(w->cmdQuery, Qt::LeftButton);
        QTest::qWait(50);
        QVERIFY(m_server->received().isEmpty());

        answer(w, LastTwoCalls);
        QVERIFY(!frameLocked(w));
        const GridModel& grid = w->MSFlexGrid1->grid();
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(rowTexts(grid, 0), (QStringList{"Fullname", "Call time", "Call number"}));
        QCOMPARE(rowTexts(grid, 1), (QStringList{"Ann", "12:01", "5551234"}));
        QCOMPARE(rowTexts(grid, 2), (QStringList{"Bob", "12:05", "5559876"}));
        QCOMPARE(rowTexts(grid, 3), (QStringList{"", "", ""}));
        QVERIFY(!grid.backColorAt(1, 2).isValid());
        QCOMPARE(grid.backColorAt(2, 2), QColor(0xE0, 0xE0, 0xE0));
        QCOMPARE(w->MSFlexGrid1->columnWidth(0), twips(4000));
        QCOMPARE(w->windowWidth(), 9300);
        QCOMPARE(w->MSFlexGrid1->width(), twips(9300 - 390));
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::False);
        QVERIFY(boxes().isEmpty());

        // Top callers: the contact table, the window widened to fit it; trimmed fields,
        // a trailing CR LF kept.
        query(w, TopCallers, QStringLiteral("20"), "STATS:TOPS;20");
        answer(w, "STATS:TOPS;20#00 7 ,Ann Lee,1,2,3,4,ann@example.org,12,0,"
                  "9,Bob,5,6,7,8,bob@example.org,3,1\r\n");
        QCOMPARE(grid.cols(), 9);
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(grid.textMatrix(0, 8), QStringLiteral("Unrecognized"));
        QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("7"));
        QCOMPARE(grid.textMatrix(2, 8), QStringLiteral("1\r\n"));
        QCOMPARE(grid.backColorAt(2, 8), QColor(0xE0, 0xE0, 0xE0));
        QCOMPARE(w->windowWidth(), 13350);
        QCOMPARE(w->MSFlexGrid1->model()->rowCount(), 3);
    }

    void replyKindsTheGridDoesNotKnowAreConsumedSilently()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        answer(w, LastTwoCalls);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        answer(w, "STATS:XXXX#00a,b");
        // Cut back to the header and the first data row, nothing filled.
        const GridModel& grid = w->MSFlexGrid1->grid();
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(rowTexts(grid, 0), (QStringList{"Fullname", "Call time", "Call number"}));
        QCOMPARE(rowTexts(grid, 1), (QStringList{"Ann", "12:01", "5551234"}));
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::False);
        QCoreApplication::processEvents();
        QVERIFY(boxes().isEmpty());
    }

    void resizeOnQueryOnlyWhenChecked()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        w->chkResize->setChecked(false);
        query(w, ContactList, QStringLiteral("10"), "STATS:CNTS;00");
        answer(w, "STATS:CNTS#00");
        QCOMPARE(w->windowWidth(), 12000);
        QCOMPARE(w->MSFlexGrid1->grid().cols(), 9);
        QCOMPARE(w->MSFlexGrid1->grid().rows(), 2);
    }

    void onlyTheLastOfTwoRepliesIsShown()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop(); // the test drives the ticks
        m_server->send("STATS:LAST#00first,1,2");
        QTRY_COMPARE(modVariables().StatsReply, QStringLiteral("STATS:LAST#00first,1,2"));
        m_server->send("STATS:UNKN#00second,3,4");
        QTRY_COMPARE(modVariables().StatsReply, QStringLiteral("STATS:UNKN#00second,3,4"));
        w->timerStats_Timer();
        const GridModel& grid = w->MSFlexGrid1->grid();
        QCOMPARE(grid.rows(), 3);
        QCOMPARE(rowTexts(grid, 1), (QStringList{"second", "3", "4"}));
        QVERIFY(w->Frame1->isEnabled());
    }

    void timeOutAfterFiveHundredTicksKeepsTheGrid()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        answer(w, LastTwoCalls);

        query(w, TopCallers, QStringLiteral("10"), "STATS:TOPS;10");
        w->timerStats->stop();
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        QCoreApplication::processEvents();
        QVERIFY(boxes().isEmpty());
        QVERIFY(frameLocked(w));
        QCOMPARE(w->QueryTicks, 500);

        w->timerStats->start(); // as the real poller would be
        w->timerStats_Timer();  // the 501st tick
        QVERIFY(!w->timerStats->isActive());
        QVERIFY(!frameLocked(w));
        // What arrives before the box is closed is thrown away with it.
        modVariables().StatsReply = QStringLiteral("STATS:LAST#00while the box is up");
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt,
                 QStringLiteral("The query timed out. Please try again. If the error presists, "
                                "then please try to reconnect."));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Query statistic"));
        QCOMPARE(boxes().at(0).style, 64);
        QVERIFY(modVariables().StatsReply.isEmpty());
        const GridModel& grid = w->MSFlexGrid1->grid();
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(grid.textMatrix(2, 0), QStringLiteral("Bob"));

        // A late reply waits in the mailbox; nothing shows it.
        m_server->send("STATS:LAST#00late,1,2");
        QTRY_COMPARE(modVariables().StatsReply, QStringLiteral("STATS:LAST#00late,1,2"));
        QTest::qWait(3 * FrmStatistics::TickMilliseconds);
        QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("Ann"));

        // The next query empties it first, so only the fresh reply is shown.
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QVERIFY(modVariables().StatsReply.isEmpty());
        w->timerStats_Timer();
        QVERIFY(frameLocked(w));
        answer(w, "STATS:LAST#00fresh,3,4");
        QCOMPARE(grid.textMatrix(1, 0), QStringLiteral("fresh"));
        QCOMPARE(boxes().size(), 1);
    }

    void aReplyOnTheLastTickIsNoTimeOut()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop();
        for (int tick = 0; tick < FrmStatistics::TimeoutTicks; ++tick)
            w->timerStats_Timer();
        m_server->send(LastTwoCalls);
        QTRY_COMPARE(modVariables().StatsReplyReady, ModVariables::True);
        w->timerStats_Timer();
        QCOMPARE(w->MSFlexGrid1->grid().textMatrix(2, 0), QStringLiteral("Bob"));
        QVERIFY(w->Frame1->isEnabled());
        QTest::qWait(20);
        QVERIFY(boxes().isEmpty());
    }

    void closeButtonEmptiesTheMailbox()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        QPointer<FrmStatistics> guard(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        w->timerStats->stop();
        m_server->send(LastTwoCalls);
        QTRY_COMPARE(modVariables().StatsReplyReady, ModVariables::True);
        QTest::mouseClick(w->cmdButton, Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmStatistics>());
        QVERIFY(modVariables().StatsReply.isEmpty());
        QCOMPARE(modVariables().StatsReplyReady, ModVariables::True); // left as it was
        QTRY_VERIFY(guard.isNull());
        QVERIFY(boxes().isEmpty());
    }

    void closingDuringAQueryLeavesALateReplyForTheNextQuery()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        w->cmbRecords->setEditText(QStringLiteral("70"));
        query(w, TopCallers, QStringLiteral("70"), "STATS:TOPS;70");
        w->close(); // the title bar's close
        QVERIFY(!forms::loadedOrNull<FrmStatistics>());
        m_server->send(LastTwoCalls);
        QTRY_COMPARE(modVariables().StatsReply, QString::fromLatin1(LastTwoCalls));
        QTest::qWait(3 * FrmStatistics::TickMilliseconds);
        QCOMPARE(modVariables().StatsReply, QString::fromLatin1(LastTwoCalls));

        // Opened again, the window starts from its design values.
        frmMain()->StatisticsStatistics->trigger();
        QCoreApplication::processEvents();
        FrmStatistics* again = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(again);
        QVERIFY(again->optStatMode[0]->isChecked());
        QCOMPARE(again->cmbRecords->currentText(), QStringLiteral("10"));
        QCOMPARE(again->MSFlexGrid1->grid().rows(), 2);
        QVERIFY(again->Frame1->isEnabled());
        query(again, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        QVERIFY(modVariables().StatsReply.isEmpty());
        again->timerStats_Timer();
        QCOMPARE(again->MSFlexGrid1->grid().textMatrix(1, 0), QString());
        QVERIFY(boxes().isEmpty());
    }

    void losingTheConnectionClosesTheWindow()
    {
        FrmStatistics* w = openConnected();
        QVERIFY(w);
        QPointer<FrmStatistics> guard(w);
        query(w, LastCalls, QStringLiteral("10"), "STATS:LAST;10");
        m_server->closeClient();
        QTRY_VERIFY(!forms::loadedOrNull<FrmStatistics>());
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt, QStringLiteral("You are currently not connected."));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Statistics."));
        QCOMPARE(boxes().at(0).style, 64);
        QTRY_VERIFY(guard.isNull());
        QTest::qWait(50);
        QCOMPARE(boxes().size(), 1);
    }

    void openedWithoutAConnectionClosesAtOnce()
    {
        frmMain();
        showStatistics();
        FrmStatistics* w = forms::loadedOrNull<FrmStatistics>();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QTRY_VERIFY(!forms::loadedOrNull<FrmStatistics>());
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt, QStringLiteral("You are currently not connected."));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Statistics."));
    }

    void queryWithoutAConnectionSendsNothing()
    {
        frmMain();
        FrmStatistics* w = frmStatistics(); // loaded without its connection watch
        w->show();
        modVariables().StatsReply = QStringLiteral("kept");
        QTest::mouseClick(w->cmdQuery, Qt::LeftButton);
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().at(0).prompt, QStringLiteral("You are currently not connected."));
        QCOMPARE(boxes().at(0).title, QStringLiteral("Query statistic"));
        QCOMPARE(boxes().at(0).style, 64);
        QCOMPARE(modVariables().StatsReply, QStringLiteral("kept"));
        QVERIFY(w->Frame1->isEnabled());
        QVERIFY(!w->timerStats->isActive());
        QVERIFY(!m_server->hasClient());
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
