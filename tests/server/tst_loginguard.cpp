// The pauses after wrong passwords, the bounded table of addresses, and what the log is
// told: the guard on its own, with the time passed in.

#include "loginguard.h"

#include <QTest>

namespace {

using Outcome = LoginGuard::Outcome;
const QHostAddress A(QStringLiteral("10.0.0.1"));
const QHostAddress B(QStringLiteral("10.0.0.2"));
const QHostAddress C(QStringLiteral("10.0.0.3"));

} // namespace

class TestLoginGuard final : public QObject {
    Q_OBJECT

private slots:
    // 0.25 s after the first wrong password, doubling up to 4 s; a right one, or a quiet
    // minute, and the address starts afresh. Other addresses are not held up.
    void pausesGrowToTheLongestAndAreForgotten()
    {
        LoginGuard guard({});
        qint64 now = 1000000;
        QCOMPARE(guard.pauseMs(A, now), 0);
        QList<qint64> pauses;
        for (int i = 0; i < 7; ++i) {
            now += guard.pauseMs(A, now); // the next password is checked when it may be
            QCOMPARE(guard.pauseMs(A, now), 0);
            guard.record(A, Outcome::WrongPassword, now);
            pauses << guard.pauseMs(A, now);
        }
        QCOMPARE(pauses, (QList<qint64>{250, 500, 1000, 2000, 4000, 4000, 4000}));
        QCOMPARE(guard.pauseMs(A, now + 1000), 3000);
        QCOMPARE(guard.pauseMs(B, now), 0);
        // Connections without a password do not lengthen the pause.
        guard.record(A, Outcome::NoPassword, now);
        QCOMPARE(guard.pauseMs(A, now), 4000);

        guard.succeeded(A);
        QCOMPARE(guard.pauseMs(A, now), 0);
        guard.record(A, Outcome::WrongPassword, now);
        QCOMPARE(guard.pauseMs(A, now), 250);

        guard.record(B, Outcome::WrongPassword, now);
        guard.record(B, Outcome::WrongPassword, now);
        QCOMPARE(guard.pauseMs(B, now + 59999), 0); // its pause is long over
        QCOMPARE(guard.entries(), 2);
        now += 59999;
        guard.record(B, Outcome::WrongPassword, now);
        QCOMPARE(guard.pauseMs(B, now), 1000); // the third in a row
        now += 60000;
        guard.record(B, Outcome::WrongPassword, now);
        QCOMPARE(guard.pauseMs(B, now), 250); // after a quiet minute, the first
    }

    // Only the first of each kind from an address has a line of its own; the report sums
    // up the rest, then forgets the addresses quiet for a minute.
    void theLogSumsUp()
    {
        LoginGuard guard({});
        const qint64 t = 1000000;
        QVERIFY(guard.record(B, Outcome::WrongPassword, t));
        for (int i = 0; i < 12; ++i)
            QVERIFY(!guard.record(B, Outcome::WrongPassword, t));
        QVERIFY(guard.record(B, Outcome::NoPassword, t));
        QVERIFY(!guard.record(B, Outcome::NoPassword, t));
        QVERIFY(guard.record(A, Outcome::ServerFull, t));
        QVERIFY(!guard.record(A, Outcome::ServerFull, t + 30000));
        QVERIFY(guard.record(C, Outcome::WrongPassword, t));
        QCOMPARE(guard.report(t + 30000, "minute"),
                 (QStringList{"1 more connection from 10.0.0.1 turned away: the server was full "
                              "in the last minute.",
                              "12 more wrong passwords from 10.0.0.2 in the last minute.",
                              "1 more connection from 10.0.0.2 closed without a password in the "
                              "last minute."}));
        QVERIFY(!guard.record(B, Outcome::WrongPassword, t + 59000));
        QCOMPARE(guard.report(t + 90000, "minute"),
                 QStringList{"1 more wrong password from 10.0.0.2 in the last minute."});
        QCOMPARE(guard.entries(), 1); // A and C have been quiet for a minute
        QCOMPARE(guard.report(t + 150000, "minute"), QStringList());
        QVERIFY(guard.isEmpty());
        QVERIFY(guard.record(B, Outcome::WrongPassword, t + 150000)); // a line of its own again
    }

    // Up to 1,024 addresses have an entry of their own; the rest share one, and with it
    // their pause, so that many addresses gain nothing.
    void tableOfAddressesIsBounded()
    {
        LoginGuard guard({});
        const qint64 t = 1000000;
        const auto address = [](int i) { return QHostAddress(quint32(0x0A000000 + i)); };
        for (int i = 0; i < 1024; ++i)
            QVERIFY(guard.record(address(i), Outcome::NoPassword, t));
        QCOMPARE(guard.entries(), 1024);
        QVERIFY(guard.record(address(1024), Outcome::WrongPassword, t));
        QVERIFY(!guard.record(address(1025), Outcome::WrongPassword, t));
        QCOMPARE(guard.entries(), 1025);
        QCOMPARE(guard.pauseMs(address(5000), t), 500);
        QCOMPARE(guard.pauseMs(address(1023), t), 0);
        guard.record(address(1023), Outcome::WrongPassword, t);
        QCOMPARE(guard.pauseMs(address(1023), t), 250);
        QCOMPARE(guard.report(t, "minute"),
                 QStringList{"1 more wrong password from other addresses in the last minute."});
    }
};

QTEST_GUILESS_MAIN(TestLoginGuard)
#include "tst_loginguard.moc"
