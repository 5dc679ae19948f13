#include "session/dispatcher.h"

#include "contacts/frmcontacts.h"
#include "popup/callalerts.h"
#include "popup/frmquillora.h"
#include "session/missedcalls.h"
#include "session/modvariables.h"
#include "session/protocol.h"
#include "session/site.h"
#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

#include <QCoreApplication>
#include <QPointer>
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

// Received text as it goes into the log: whole unless it is huge, since a log line of
// megabytes would freeze the log pane for seconds.
QString forLog(const QString& message)
{
    constexpr qsizetype MaxLogged = 4096;
    if (message.size() <= MaxLogged)
        return message;
    return message.left(MaxLogged) + QStringLiteral(" … (%1 characters)").arg(message.size());
}

void onGreeting(FrmMain* main, const QString& message)
{
    // One greeting a connection: a server that greets again is not answered again (nor,
    // after a refused version, shown another box inside the first one's event loop).
    if (main->sckConnect().greetingHandled())
        return;
    main->txtOut(forLog(message));
    const protocol::GreetingVersion server = protocol::greetingVersion(message);
    if (server.hasBracket &&
        protocol::versionAccepted(server.version, modVariables().RequiredServerVersion)) {
        const QString password = GetSetting(SettingsStore::ClientServerPassword);
        main->sckConnect().send(password);
        main->sckConnect().setGreeted();
        main->keeper().greeted(password);
    } else {
        // Nothing of this connection is retried, even if it ends while the box is open,
        // and nothing more of it is handled.
        main->keeper().stop();
        main->sckConnect().refuseGreeting();
        // The box runs its own event loop, in which the user may end the client or
        // connect again.
        const QPointer<FrmMain> alive(main);
        const quint64 refused = main->sckConnect().connectionSerial();
        showUpdateServerBox(
            server.hasBracket
                ? QStringLiteral("You are currently using ") + server.version
                : QStringLiteral(
                      "You are currently using a older version that is not compatible."));
        if (!alive)
            return;
        if (main->sckConnect().connectionSerial() == refused)
            main->sckConnect().close();
    }
    QCoreApplication::processEvents();
}

void onPing(FrmMain* main, const QString& message)
{
    main->sckConnect().answerPing(message);
    QCoreApplication::processEvents();
}

void onCall(FrmMain* main, const QString& message)
{
    main->txtOut(forLog(message));
    const QStringList fields = protocol::callFields(message);
    main->keeper().callSeen(fields.value(0).mid(protocol::PrefixLength), fields.value(1));
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
    if (popUp)
        callalerts::callShown(
            {missedcalls::key(fields.value(0).mid(protocol::PrefixLength), fields.value(1)),
             fields.value(1), fields.size() > 2 ? fields[2] : QString()});
}

void onStats(FrmMain* main, const QString& message)
{
    switch (main->sckConnect().statsReplyArrived(message)) {
    case StatsOrder::Goes::ToKeeper:
        main->keeper().takeStatsReply(message); // the client's own question after a reconnect
        return;
    case StatsOrder::Goes::Stale:
        return; // a query given up and asked again: its late reply is no answer to the new one
    case StatsOrder::Goes::ToWindow:
        break;
    }
    ModVariables& vars = modVariables();
    vars.StatsReplyReady = ModVariables::False;
    main->txtOut(QStringLiteral("Receiving statistics."));
    vars.StatsReply = message;
    vars.StatsReplyReady = ModVariables::True;
}

} // namespace

void sckConnect_DataArrival(const QString& message)
{
    // Only while the main window is loaded: a message must never load it again.
    FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (!main)
        return;
    const protocol::Kind kind = protocol::classify(message);
    if (kind != protocol::Kind::Unknown)
        main->keeper().received(kind == protocol::Kind::Ping);
    switch (kind) {
    case protocol::Kind::Greeting:
        onGreeting(main, message);
        break;
    case protocol::Kind::Ping:
        onPing(main, message);
        break;
    case protocol::Kind::Call:
        onCall(main, message);
        break;
    case protocol::Kind::Stats:
        onStats(main, message);
        break;
    case protocol::Kind::Contacts:
        frmContacts()->AEContacts(message);
        break;
    case protocol::Kind::Unknown:
        break;
    }
}
