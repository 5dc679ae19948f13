// The real client windows against the real server process: connecting, the greeting and
// the password, and a call rung through the server popping up with the caller's details.

#include "popup/frmquillora.h"
#include "realserver.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QLabel>
#include <QTest>
#include <memory>

class TestCallPopup final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void ringShowsTheCallerInThePopUp();
    void unknownCallerShowsOnlyTheNumber();
    void wrongPasswordGetsTheConnectionClosed();

private:
    bool connectClient(const QString& password);

    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::RealServer> m_server;
};

void TestCallPopup::init()
{
    m_env = std::make_unique<testsupport::Environment>();
    m_server = std::make_unique<testsupport::RealServer>(QStringLiteral(QUILLORA_SERVER_BIN));
    QVERIFY(m_server->start({QStringLiteral("--password"), QStringLiteral("open sesame")}));
    const QByteArray saved = m_server->request(
        "CNTAC:SAVE;NEW,Margit Holm,555-0142,555-0199,margit@example.com,555-0700,555-0701",
        "open sesame");
    QVERIFY2(saved.startsWith("CNTAC:SAVE;"), saved.constData());
}

void TestCallPopup::cleanup()
{
    testsupport::unloadAllWindows();
    m_server.reset();
    m_env.reset();
}

bool TestCallPopup::connectClient(const QString& password)
{
    testsupport::storeSetting(QStringLiteral("ClientServerPassword"), password);
    frmMain();
    return testsupport::connectMainWindow(*m_server);
}

void TestCallPopup::ringShowsTheCallerInThePopUp()
{
    QVERIFY(connectClient(QStringLiteral("open sesame")));
    QVERIFY(QTest::qWaitFor([] {
        return frmMain()
            ->logLines()
            .join(QLatin1Char('\n'))
            .contains(QLatin1String("Welcome to Quillora Server [0.92]"));
    }));
    QVERIFY(m_server->waitForLog(QStringLiteral("authenticated.")));
    QVERIFY(!forms::loadedOrNull<FrmQuillora>());

    QCOMPARE(m_server->ring(QStringLiteral("555-0142")), 0);
    QVERIFY(QTest::qWaitFor([] { return forms::loadedOrNull<FrmQuillora>() != nullptr; }));
    FrmQuillora* popUp = forms::loadedOrNull<FrmQuillora>();
    QVERIFY(QTest::qWaitFor([popUp] { return popUp->isVisible(); }));
    QCOMPARE(popUp->lblNumberCalling->text(), QStringLiteral("555-0142"));
    const QStringList details{QStringLiteral("Margit Holm"), QStringLiteral("555-0142"),
                              QStringLiteral("555-0199"),    QStringLiteral("555-0700"),
                              QStringLiteral("555-0701"),    QStringLiteral("margit@example.com")};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(popUp->lblIncoming[size_t(i)]->text(), details[i]);

    // The same caller with the number written without its dash is still recognised.
    QCOMPARE(m_server->ring(QStringLiteral("5550199")), 0);
    QVERIFY(QTest::qWaitFor(
        [popUp] { return popUp->lblNumberCalling->text() == QLatin1String("5550199"); }));
    QCOMPARE(popUp->lblIncoming[0]->text(), QStringLiteral("Margit Holm"));
}

void TestCallPopup::unknownCallerShowsOnlyTheNumber()
{
    QVERIFY(connectClient(QStringLiteral("open sesame")));
    QVERIFY(m_server->waitForLog(QStringLiteral("authenticated.")));
    QCOMPARE(m_server->ring(QStringLiteral("555-0142")), 0);
    QVERIFY(QTest::qWaitFor([] { return forms::loadedOrNull<FrmQuillora>() != nullptr; }));
    FrmQuillora* popUp = forms::loadedOrNull<FrmQuillora>();
    QVERIFY(QTest::qWaitFor(
        [popUp] { return popUp->lblIncoming[0]->text() == QLatin1String("Margit Holm"); }));

    // An unknown caller right after: no detail of the previous caller stays on show.
    QCOMPARE(m_server->ring(QStringLiteral("555-9876")), 0);
    QVERIFY(QTest::qWaitFor(
        [popUp] { return popUp->lblNumberCalling->text() == QLatin1String("555-9876"); }));
    for (QLabel* label : popUp->lblIncoming)
        QCOMPARE(label->text(), QString());
}

void TestCallPopup::wrongPasswordGetsTheConnectionClosed()
{
    QVERIFY(connectClient(QStringLiteral("open says me")));
    QVERIFY(m_server->waitForLog(QStringLiteral("wrong password")));
    QVERIFY(QTest::qWaitFor([] { return !frmMain()->sckConnect().isConnected(); }));
    QVERIFY(QTest::qWaitFor(
        [] { return frmMain()->statusPanel[0]->text() != QLatin1String("Connected"); }));
    // A call now reaches no one.
    QCOMPARE(m_server->ring(QStringLiteral("555-0142")), 0);
    QVERIFY(m_server->waitForLog(QStringLiteral("announced to 0 clients")));
    QVERIFY(!forms::loadedOrNull<FrmQuillora>());
}

QTEST_MAIN(TestCallPopup)
#include "tst_callpopup.moc"
