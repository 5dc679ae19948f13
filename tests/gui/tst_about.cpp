#include "session/site.h"
#include "settings/frmsettings.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

using testsupport::boxes;

// Stands in for the desktop's browser: records every address it is asked to open.
class BrowserRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TestAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::Environment> env;
    BrowserRecorder browser;

private slots:
    void init()
    {
        env = std::make_unique<testsupport::Environment>();
        browser.opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    }
    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        env.reset();
    }

    void showsCaptionAndSite()
    {
        FrmMain* main = frmMain();
        main->HelpAbout->trigger();
        FrmAbout* about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(about);
        QVERIFY(about->isVisible());
        QVERIFY(!about->isModal());
        QCOMPARE(about->windowTitle(), QString("Quillora Client [About]"));
        QCOMPARE(about->Frame1->title(), QString("About"));
        QCOMPARE(about->lblTitle->text(), QString("Quillora Client 0.9"));
        QVERIFY(about->lblTitle->font().bold());
        QCOMPARE(about->lblTitle->font().pointSize(), 24);
        QCOMPARE(about->Command1->text(), QString("Ok"));

        const QStringList lines = about->lblInfo->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QVERIFY(!lines[0].isEmpty());
        QCOMPARE(lines.mid(1), (QStringList{"", "", "Please visit " + site::productSite()}));
        QCOMPARE(site::productSite(), site::Host + "/Quillora");
        QVERIFY(QUrl(site::productSite()).isValid());
        // Nothing cut off.
        QVERIFY(about->lblTitle->width() >= about->lblTitle->sizeHint().width());
        QVERIFY(about->lblInfo->width() >= about->lblInfo->sizeHint().width());
    }

    void textsStayUntilLoadedAgain()
    {
        FrmMain* main = frmMain();
        main->HelpAbout->trigger();
        FrmAbout* about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(about);

        main->setWindowTitle(QStringLiteral("Quillora Client 0.9 renamed"));
        main->HelpAbout->trigger();
        QCOMPARE(forms::loadedOrNull<FrmAbout>(), about);
        QCOMPARE(about->lblTitle->text(), QString("Quillora Client 0.9"));

        QTest::mouseClick(about->Command1, Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmAbout>());

        main->HelpAbout->trigger();
        about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(about);
        QCOMPARE(about->lblTitle->text(), QString("Quillora Client 0.9 renamed"));

        // The main window's unload takes the About window with it.
        main->FileExit->trigger();
        QVERIFY(!forms::loadedOrNull<FrmAbout>());
    }

    void homepageOpensConnectedOrNot()
    {
        FrmMain* main = frmMain();
        const QStringList logBefore = main->logLines();
        main->HelpHomepage->trigger();
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(site::homepage())});
        QCOMPARE(site::homepage(), site::Host + "/Quillora/index.asp");

        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        main->HelpHomepage->trigger();
        QCOMPARE(browser.opened, (QList<QUrl>{QUrl(site::homepage()), QUrl(site::homepage())}));
        QVERIFY(boxes().isEmpty());
        QVERIFY(!forms::loadedOrNull<FrmAbout>());
        QCOMPARE(main->logLines().mid(main->logLines().size() - logBefore.size()), logBefore);
    }

    void helpItemAndF1DoNothing()
    {
        FrmMain* main = frmMain();
        main->show();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        QVERIFY(!main->HelpQuilloraHelp->isEnabled());
        const QStringList logBefore = main->logLines();

        QTest::keyClick(main, Qt::Key_F1);
        QTest::keyClick(main->txtDebug[0], Qt::Key_F1);
        QVERIFY(browser.opened.isEmpty());
        QVERIFY(!forms::loadedOrNull<FrmAbout>());
        QVERIFY(!forms::loadedOrNull<FrmSettings>());
        QCOMPARE(main->logLines(), logBefore);
        QVERIFY(boxes().isEmpty());

        // The working items' keys do reach the window (a field has no use for Ctrl+H).
        QTest::keyClick(main->txtDebug[0], Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(site::homepage())});
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
