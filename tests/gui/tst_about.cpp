#include "session/site.h"
#include "shell/forms.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QDesktopServices>
#include <QTest>
#include <QUrl>

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
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    }
    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        env.reset();
    }

    void aboutWindow()
    {
        FrmMain* main = frmMain();
        main->HelpAbout->trigger();
        FrmAbout* about = forms::loadedOrNull<FrmAbout>();
        QVERIFY(about && about->isVisible() && !about->isModal());
        QCOMPARE(about->windowTitle(), QString("Quillora Client [About]"));
        QCOMPARE(about->lblTitle->text(), QString("Quillora Client 0.9"));
        const QStringList lines = about->lblInfo->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.mid(1), (QStringList{"", "", "Please visit " + site::Host + "/Quillora"}));

        // Its texts stay while it is open, and are taken afresh when it loads again.
        main->setWindowTitle(QStringLiteral("Quillora Client 0.9 renamed"));
        main->HelpAbout->trigger();
        QCOMPARE(forms::loadedOrNull<FrmAbout>(), about);
        QCOMPARE(about->lblTitle->text(), QString("Quillora Client 0.9"));
        QTest::mouseClick(about->Command1, Qt::LeftButton);
        QVERIFY(!forms::loadedOrNull<FrmAbout>());
        main->HelpAbout->trigger();
        QCOMPARE(frmAbout()->lblTitle->text(), QString("Quillora Client 0.9 renamed"));
    }

    void homepageConnectedOrNotAndF1DoesNothing()
    {
        FrmMain* main = frmMain();
        main->show();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        QTest::keyClick(main->txtDebug[0], Qt::Key_F1);
        QVERIFY(!main->HelpQuilloraHelp->isEnabled());
        QVERIFY(browser.opened.isEmpty());

        const QUrl homepage(site::Host + "/Quillora/index.asp");
        main->HelpHomepage->trigger();
        testsupport::LoopbackServer server;
        QVERIFY(testsupport::connectMainWindow(server));
        QTest::keyClick(main->txtDebug[0], Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(browser.opened, (QList<QUrl>{homepage, homepage}));
        QVERIFY(testsupport::boxes().isEmpty());
        QCOMPARE(forms::loadedOrNull<FrmAbout>(), nullptr);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
