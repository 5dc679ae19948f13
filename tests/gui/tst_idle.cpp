// An idle client, connected or not, has no timer firing: nothing polls.

#include "shell/frmmain.h"
#include "testsupport.h"

#include <QApplication>
#include <QTest>
#include <QTimerEvent>

namespace {

class TimerCounter final : public QObject {
public:
    QStringList firing;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The text caret of a focused field blinks; that is the toolkit's, not a poll.
        if (event->type() == QEvent::Timer &&
            qstrcmp(watched->metaObject()->className(), "QWidgetLineControl") != 0)
            firing << QString::fromLatin1(watched->metaObject()->className()) + "/" +
                          watched->objectName();
        return false;
    }
};

QStringList timersFiringFor(int ms)
{
    TimerCounter counter;
    qApp->installEventFilter(&counter);
    QTest::qWait(ms);
    qApp->removeEventFilter(&counter);
    return counter.firing;
}

} // namespace

class TestIdle : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;

private slots:
    void init() { env = std::make_unique<testsupport::Environment>(); }
    void cleanup() { env.reset(); }

    void noTimerFiresWhileIdle()
    {
        FrmMain* main = frmMain();
        main->show();
        QTest::qWait(200);
        QCOMPARE(timersFiringFor(1500), QStringList());

        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        // A statistics reply held for its quiet period, then handed on: the quiet
        // timer runs once and stops.
        server.send("STATS:LAST;#01");
        QTest::qWait(200);
        QCOMPARE(timersFiringFor(1500), QStringList());
    }
};

QTEST_MAIN(TestIdle)
#include "tst_idle.moc"
