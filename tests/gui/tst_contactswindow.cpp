// The contacts window against a loopback server: opening, searching, the replies, the
// record buttons with their enabled states, the refusals, the error report and the
// connection watch.

#include "contacts/frmcontacts.h"
#include "session/modvariables.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "testsupport.h"

#include <QTest>

using testsupport::boxes;
using W = FrmContacts;

namespace {

const QByteArray Record = "CNTAC:SEAR;Ann Lee,111,222,ann@example.org,333,444,12,7,12,31";
const QString Marker = QStringLiteral("(waiting)");

W* loaded()
{
    return forms::loadedOrNull<W>();
}

// Sends a reply and waits until the (possibly just loaded) window has applied it.
bool deliver(testsupport::LoopbackServer& server, const QByteArray& reply)
{
    if (loaded())
        loaded()->lblInput[1]->setText(Marker);
    server.send(reply);
    return QTest::qWaitFor([] { return loaded() && loaded()->lblInput[1]->text() != Marker; });
}

// Waits for exactly these bytes at the server, then forgets them.
bool expectRequest(testsupport::LoopbackServer& server, const QByteArray& request)
{
    const bool arrived = server.waitForReceived(request.size());
    const QByteArray received = server.received();
    server.clearReceived();
    if (!arrived || received != request)
        qWarning("expected %s, received %s", request.constData(), received.constData());
    return arrived && received == request;
}

void type(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClicks(box, text);
}

void click(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Every control whose enabled state the browse and edit modes decide.
void checkMode(W* w, bool edit, bool backNext, bool editButton)
{
    QCOMPARE(w->cmdSearch->isEnabled(), !edit);
    QCOMPARE(w->txtSearch->isEnabled(), !edit);
    for (QRadioButton* option : w->optSearch)
        QCOMPARE(option->isEnabled(), !edit);
    QCOMPARE(w->cmdContact[W::NewContact]->isEnabled(), !edit);
    QCOMPARE(w->cmdContact[W::Save]->isEnabled(), edit);
    QCOMPARE(w->cmdContact[W::Cancel]->isEnabled(), edit);
    QCOMPARE(w->cmdContact[W::Back]->isEnabled(), backNext);
    QCOMPARE(w->cmdContact[W::Next]->isEnabled(), backNext);
    QCOMPARE(w->cmdContact[W::Edit]->isEnabled(), editButton);
    for (QLineEdit* box : w->txtInput)
        QCOMPARE(box->isEnabled(), edit);
}

void checkBox(int index, const QString& prompt, const QString& title)
{
    QVERIFY(boxes().size() > index);
    QCOMPARE(boxes().at(index).prompt, prompt);
    QCOMPARE(boxes().at(index).style, 64);
    QCOMPARE(boxes().at(index).title, title);
}

QStringList shown(W* w)
{
    QStringList fields;
    for (QLineEdit* box : w->txtInput)
        fields << box->text();
    return fields;
}

} // namespace

class TstContactsWindow final : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::Environment>();
        m_server = std::make_unique<testsupport::LoopbackServer>();
    }
    void cleanup()
    {
        m_server.reset();
        m_env.reset();
    }

    void menuOpensWindowInDesignState();
    void searchSendsFieldCodeAndText_data();
    void searchSendsFieldCodeAndText();
    void repliesFillTheWindow();
    void browsingAsksForNeighbours();
    void editSaveAndCancel();
    void newContactAndRefusals();
    void failuresShowErrorReportAndClose();
    void watchClosesWindowWhenConnectionGoes();
    void replyLoadsClosedWindowHidden();

private:
    W* openWithRecord();
    std::unique_ptr<testsupport::Environment> m_env;
    std::unique_ptr<testsupport::LoopbackServer> m_server;
};

W* TstContactsWindow::openWithRecord()
{
    if (!testsupport::connectMainWindow(*m_server))
        return nullptr;
    frmMain()->ToolAddEditContacts->trigger();
    W* w = loaded();
    click(w->optSearch[1]);
    type(w->txtSearch, QStringLiteral("lee"));
    click(w->cmdSearch);
    if (!expectRequest(*m_server, "CNTAC:SEAR;NAME;lee") || !deliver(*m_server, Record))
        return nullptr;
    return w;
}

void TstContactsWindow::menuOpensWindowInDesignState()
{
    QVERIFY(testsupport::connectMainWindow(*m_server));
    modVariables().ContactRecords = QStringList{"4", "5"};
    frmMain()->ToolAddEditContacts->trigger();
    W* w = loaded();
    QVERIFY(w && w->isVisible() && w->watchEnabled());
    QCOMPARE(modVariables().ContactRecords, QStringList{"NEW"});
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QCOMPARE(w->windowType(), Qt::Tool);
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("No information to show."));
    QCOMPARE(w->focusWidget(), w->txtSearch);
    checkMode(w, false, false, false);

    // Closed and reopened from the menu, it starts afresh.
    QVERIFY(deliver(*m_server, Record));
    click(w->cmdButton[0]);
    QVERIFY(!loaded() && !w->watchEnabled());
    frmMain()->ToolAddEditContacts->trigger();
    QCOMPARE(shown(loaded()), QStringList(6, QString()));
    checkMode(loaded(), false, false, false);

    // Unloading the main window takes it along without a message.
    frmMain()->close();
    QCoreApplication::processEvents();
    QVERIFY(!loaded());
    QVERIFY(boxes().isEmpty());
}

void TstContactsWindow::searchSendsFieldCodeAndText_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("all, empty") << 0 << "" << QByteArray("CNTAC:SEAR;ALLF;");
    QTest::newRow("name, spaces") << 1 << " smith " << QByteArray("CNTAC:SEAR;NAME; smith ");
    QTest::newRow("home") << 2 << "0201" << QByteArray("CNTAC:SEAR;PHON;0201");
    QTest::newRow("mobile") << 3 << "07;7" << QByteArray("CNTAC:SEAR;MOBI;07;7");
    QTest::newRow("e-mail") << 4 << "@ex" << QByteArray("CNTAC:SEAR;EMAI;@ex");
    QTest::newRow("business") << 5 << "9, 8" << QByteArray("CNTAC:SEAR;BPHO;9, 8");
    QTest::newRow("fax") << 6 << "555" << QByteArray("CNTAC:SEAR;BFAX;555");
}

void TstContactsWindow::searchSendsFieldCodeAndText()
{
    QFETCH(int, option);
    QFETCH(QString, text);
    QFETCH(QByteArray, request);
    W* w = openWithRecord(); // searched once already; this search replaces it
    QVERIFY(w);
    click(w->optSearch[option]);
    type(w->txtSearch, text);
    click(w->cmdSearch);
    QVERIFY(expectRequest(*m_server, request));
    QCOMPARE(modVariables().LastContactSearch, QString::fromLatin1(request));
    QVERIFY(w->txtSearch->text().isEmpty());
    QCOMPARE(w->lblInput[0]->text(), QStringLiteral("12")); // the reply changes the record

    // Disconnected: a box, nothing remembered, the box emptied all the same.
    frmMain()->sckConnect().close();
    type(w->txtSearch, QStringLiteral("x"));
    w->cmdSearch_Click(); // before the watch's queued look
    QCOMPARE(boxes().size(), 1);
    checkBox(0, QStringLiteral("You are currently not connected."),
             QStringLiteral("Search contacts"));
    QVERIFY(w->txtSearch->text().isEmpty());
    QCOMPARE(modVariables().LastContactSearch, QString::fromLatin1(request));
}

void TstContactsWindow::repliesFillTheWindow()
{
    W* w = openWithRecord();
    QVERIFY(w);
    QCOMPARE(shown(w), (QStringList{"Ann Lee", "111", "222", "ann@example.org", "333", "444"}));
    QCOMPARE(w->lblInput[0]->text(), QStringLiteral("12"));
    QCOMPARE(modVariables().ContactRecords, (QStringList{"7", "12", "31"}));
    QCOMPARE(w->lblInput[1]->text(),
             QStringLiteral("Currently viewing no. 2\r\nThe search found 3 records."));
    checkMode(w, false, true, true);

    QVERIFY(deliver(*m_server, "CNTAC:ERRO;<b>No</b> such record"));
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("ERROR:\r\n<b>No</b> such record"));
    QCOMPARE(w->lblInput[1]->textFormat(), Qt::PlainText);

    QVERIFY(deliver(*m_server, "CNTAC:SEAR;None"));
    QCOMPARE(shown(w), QStringList(6, QString()));
    QVERIFY(w->lblInput[0]->text().isEmpty());
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("\r\nThe search found 0 records."));
    QCOMPARE(modVariables().ContactRecords, (QStringList{"7", "12", "31"}));
    checkMode(w, false, false, false);

    // More entries than a 16-bit count and a field longer than a box's default limit.
    const QByteArray name(40000, 'n');
    QByteArray big = "CNTAC:SEAR;" + name + ",1,2,3,4,5,39999";
    for (int id = 0; id < 40000; ++id)
        big += ',' + QByteArray::number(id);
    QVERIFY(deliver(*m_server, big));
    QCOMPARE(w->lblInput[1]->text(),
             QStringLiteral("Currently viewing no. 40000\r\nThe search found 40000 records."));
    click(w->cmdContact[W::Edit]);
    click(w->cmdContact[W::Save]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;39999," + name + ",1,2,3,4,5"));
}

void TstContactsWindow::browsingAsksForNeighbours()
{
    W* w = openWithRecord();
    QVERIFY(w);
    click(w->cmdContact[W::Next]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME;lee,@RECORD:31"));
    click(w->cmdContact[W::Back]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME;lee,@RECORD:7"));
    QVERIFY(deliver(*m_server, "CNTAC:SEAR;Big,,,,,,9000000000,0040000,9000000000"));
    click(w->cmdContact[W::Next]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SEAR;NAME;lee,@RECORD:40000"));
    QVERIFY(boxes().isEmpty());
}

void TstContactsWindow::editSaveAndCancel()
{
    W* w = openWithRecord();
    QVERIFY(w);
    click(w->cmdContact[W::Edit]);
    checkMode(w, true, false, false);
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Edit record."));
    type(w->txtInput[0], QStringLiteral("typed"));

    // A reply while editing overwrites the boxes but keeps edit mode.
    QVERIFY(deliver(*m_server, "CNTAC:SEAR;Other,1,2,3,4,5,7,7,12"));
    QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Other"));
    QVERIFY(w->cmdContact[W::Save]->isEnabled() && w->cmdContact[W::Next]->isEnabled());
    QVERIFY(w->txtInput[0]->isEnabled() && !w->cmdSearch->isEnabled());

    type(w->txtInput[0], QStringLiteral(" Oth er "));
    click(w->cmdContact[W::Save]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;7, Oth er ,1,2,3,4,5"));
    checkMode(w, false, true, true);

    click(w->cmdContact[W::Edit]);
    type(w->txtInput[1], QStringLiteral("999"));
    click(w->cmdContact[W::Cancel]);
    checkMode(w, false, true, true);
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Cancelled by user."));
    QCOMPARE(w->txtInput[1]->text(), QStringLiteral("999"));
    QCOMPARE(w->focusWidget(), w->txtSearch);
}

void TstContactsWindow::newContactAndRefusals()
{
    W* w = openWithRecord();
    QVERIFY(w);
    click(w->cmdContact[W::NewContact]);
    checkMode(w, true, false, false);
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Create new record."));
    QCOMPARE(shown(w), QStringList(6, QString()));
    QCOMPARE(modVariables().ContactRecords, QStringList{"NEW"});

    type(w->txtInput[0], QStringLiteral("  "));
    click(w->cmdContact[W::Save]);
    QCOMPARE(w->lblInput[1]->text(), QStringLiteral("Record not saved. Nothing has been entered."));
    checkMode(w, false, false, true);

    // A comma would shift the fields: refused, still editing, nothing typed lost.
    click(w->cmdContact[W::Edit]);
    type(w->txtInput[0], QStringLiteral("Lee, Ann"));
    type(w->txtInput[5], QStringLiteral("0800"));
    click(w->cmdContact[W::Save]);
    QCOMPARE(w->lblInput[1]->text(),
             QStringLiteral("Record not saved. Commas cannot be stored in contact fields."));
    checkMode(w, true, false, false);
    QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Lee, Ann"));

    // Mended, it goes out; the refusals sent nothing before it.
    type(w->txtInput[0], QStringLiteral(" Lee Ann"));
    click(w->cmdContact[W::Save]);
    QVERIFY(expectRequest(*m_server, "CNTAC:SAVE;NEW, Lee Ann,,,,,0800"));
    QVERIFY(boxes().isEmpty());
}

void TstContactsWindow::failuresShowErrorReportAndClose()
{
    W* w = openWithRecord();
    QVERIFY(w);
    QVERIFY(deliver(*m_server, "CNTAC:SEAR;Ann,,,,,,12,12,abc"));
    click(w->cmdContact[W::Next]);
    QVERIFY(!loaded());
    QCOMPARE(boxes().size(), 1);
    QStringList lines = boxes().at(0).prompt.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines.at(6), QStringLiteral("ERROR MESSAGE: The record ID \"abc\" is not a number."));
    QCOMPARE(lines.at(8), QStringLiteral("SOURCE: frmContacts"));
    QCOMPARE(boxes().at(0).title, QStringLiteral("Add/Edit contacts."));

    // A save whose send fails, pressed before the watch's look: one report, no more.
    boxes().clear();
    frmMain()->ToolAddEditContacts->trigger();
    w = loaded();
    click(w->cmdContact[W::NewContact]);
    type(w->txtInput[0], QStringLiteral("Dee"));
    frmMain()->sckConnect().close();
    click(w->cmdContact[W::Save]);
    QVERIFY(!loaded());
    QCoreApplication::processEvents();
    QCOMPARE(boxes().size(), 1);
    lines = boxes().at(0).prompt.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.at(6), QStringLiteral("ERROR MESSAGE: The connection to the server is closed."));
    QCOMPARE(lines.at(8), QStringLiteral("SOURCE: sckConnect"));
    QVERIFY(m_server->received().isEmpty());
}

void TstContactsWindow::watchClosesWindowWhenConnectionGoes()
{
    QVERIFY(openWithRecord());
    m_server->closeClient();
    QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
    QCoreApplication::processEvents();
    QCOMPARE(boxes().size(), 1);
    checkBox(0, QStringLiteral("You are currently not connected."),
             QStringLiteral("Add/Edit contacts."));

    // Loaded while disconnected, it closes at once with the same message.
    frmContacts();
    QVERIFY(QTest::qWaitFor([] { return !loaded(); }));
    QCOMPARE(boxes().size(), 2);
    checkBox(1, QStringLiteral("You are currently not connected."),
             QStringLiteral("Add/Edit contacts."));
}

void TstContactsWindow::replyLoadsClosedWindowHidden()
{
    QVERIFY(testsupport::connectMainWindow(*m_server));
    QVERIFY(deliver(*m_server, Record));
    W* w = loaded();
    QVERIFY(!w->isVisible() && w->watchEnabled());
    QCOMPARE(w->txtInput[0]->text(), QStringLiteral("Ann Lee"));
    frmMain()->ToolAddEditContacts->trigger();
    QCOMPARE(loaded(), w);
    QVERIFY(w->isVisible());
    QCOMPARE(w->lblInput[0]->text(), QStringLiteral("12"));
    QCOMPARE(modVariables().ContactRecords, QStringList{"NEW"});
}

QTEST_MAIN(TstContactsWindow)
#include "tst_contactswindow.moc"
