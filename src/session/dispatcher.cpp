#include "session/dispatcher.h"

#include "contacts/frmcontacts.h"
#include "popup/frmquillora.h"
#include "session/modvariables.h"
#include "session/protocol.h"
#include "session/site.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

void showUpdateServerBox(const QString& currentLine)
{
    const QStringList prompt{
        QStringLiteral("Quillora Server ") + modVariables().RequiredServerVersion +
            QStringLiteral(" is required."),
        QString(),
        currentLine,
        QString(),
        QStringLiteral("Please visit ") + site::productSite() +
            QStringLiteral(" where you will find a newer version."),
    };
    MsgBox(prompt.join(QStringLiteral("\r\n")), vbInformation,
           QStringLiteral("Update your Quillora Server"));
}

void onGreeting(const QString& message)
{
    FrmMain* main = frmMain();
    main->txtOut(message);
    const protocol::GreetingVersion server = protocol::greetingVersion(message);
    if (!server.hasBracket) {
        showUpdateServerBox(
            QStringLiteral("You are currently using a older version that is not compatible."));
        main->sckConnect().close();
    } else if (protocol::versionAccepted(server.version, modVariables().RequiredServerVersion)) {
        main->sckConnect().send(GetSetting(SettingsStore::ClientServerPassword));
    } else {
        showUpdateServerBox(QStringLiteral("You are currently using ") + server.version);
        main->sckConnect().close();
    }
    QCoreApplication::processEvents();
}

void onPing(const QString& message)
{
    frmMain()->sckConnect().send(protocol::pongFor(message));
    QCoreApplication::processEvents();
}

void onCall(const QString& message)
{
    frmMain()->txtOut(message);
    const QStringList fields = protocol::callFields(message);
    ModVariables& vars = modVariables();
    FrmQuillora* popUp = nullptr;
    const int last = static_cast<int>(fields.size()) - 1;
    for (vars.LoopIndex = 0; vars.LoopIndex <= last; ++vars.LoopIndex) {
        const int index = vars.LoopIndex;
        if (index == 0) {
            popUp = frmQuillora();
            popUp->showPopUp();
        } else if (index == 1) {
            popUp->lblNumberCalling->setText(fields[index]);
        } else if (index <= 7) {
            popUp->lblIncoming[index - 2]->setText(fields[index]);
        } else {
            break; // later fields are not shown
        }
    }
}

void onStats(const QString& message)
{
    ModVariables& vars = modVariables();
    vars.StatsReplyReady = ModVariables::False;
    frmMain()->txtOut(QStringLiteral("Receiving statistics."));
    vars.StatsReply = message;
    vars.StatsReplyReady = ModVariables::True;
}

} // namespace

void sckConnect_DataArrival(const QString& message)
{
    switch (protocol::classify(message)) {
    case protocol::Kind::Greeting:
        onGreeting(message);
        break;
    case protocol::Kind::Ping:
        onPing(message);
        break;
    case protocol::Kind::Call:
        onCall(message);
        break;
    case protocol::Kind::Stats:
        onStats(message);
        break;
    case protocol::Kind::Contacts:
        frmContacts()->AEContacts(message);
        break;
    case protocol::Kind::Unknown:
        break;
    }
}
