// The main window's session side: the Connect and Disconnect commands, the socket's
// Connect, Close and Error events, and the mirroring of the socket state into the
// window's controls. What follows the end of a connection (retries, the reason given)
// is the connection keeper's.

#include "session/keyfingerprint.h"
#include "settings/settingsstore.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"

#include <QPointer>
#include <QStringList>

void FrmMain::cmdConnect_Click(int index)
{
    if (index == 0) {
        const QString host = txtDebug[0]->text().trimmed();
        const QString port = txtDebug[1]->text().trimmed();
        if (host.isEmpty() || port.isEmpty())
            return;
        m_keeper->userConnect(host, port);
        m_session.connectTo(host, port);
        txtOut(QStringLiteral("Connecting."));
    } else if (index == 1) {
        m_keeper->userDisconnect();
        if (m_session.state() == Session::Closed)
            return;
        m_session.close();
        txtOut(QStringLiteral("Disconnected."));
    }
}

void FrmMain::sckConnect_Connect()
{
    const QString address = m_session.peerAddress();
    const QString port = QString::number(m_session.peerPort());
    statusPanel[0]->setText(QStringLiteral("Connected"));
    statusPanel[1]->setText(address + QLatin1Char(':') + port +
                            (m_session.isEncrypted() ? QStringLiteral(" (TLS)") : QString()));
    txtOut(QStringLiteral("Connected."));
    txtOut(QStringLiteral("IP:") + address + QStringLiteral(" Port: ") + port);
    m_keeper->connected();
}

void FrmMain::sckConnect_Close()
{
    const ConnectionKeeper::Report report = m_keeper->ending(true);
    m_session.close();
    if (report == ConnectionKeeper::Report::GiveUp) {
        if (!reportFailure(QAbstractSocket::RemoteHostClosedError,
                           QStringLiteral("The server closed the connection."), true))
            return;
    } else if (report != ConnectionKeeper::Report::Silently) {
        txtOut(QStringLiteral("Disconnected."));
    }
    m_keeper->ended(QString());
}

void FrmMain::sckConnect_Error(int number, const QString& description)
{
    const ConnectionKeeper::Report report = m_keeper->ending(false);
    if (report == ConnectionKeeper::Report::Silently) {
        m_session.close();
        resetConnectionControls();
    } else if (!reportFailure(number, description,
                              report != ConnectionKeeper::Report::WithoutBox)) {
        return;
    }
    m_keeper->ended(description);
}

void FrmMain::sckConnect_KeyUntrusted(const QString& pin, const QString& why)
{
    const QString server = m_session.target();
    m_keeper->stop();
    m_session.close();
    txtOut(QStringLiteral("The server's certificate is not trusted: ") + why);
    resetConnectionControls();
    timerConnected_Timer();
    const QStringList prompt{
        QStringLiteral("The certificate of %1 cannot be verified:").arg(server),
        why,
        QString(),
        QStringLiteral("The server's key has the fingerprint"),
        keyfingerprint::displayLines(pin),
        QString(),
        QStringLiteral("Compare it with the fingerprint the server logs at start-up. Trust "
                       "this key and connect? Nothing has been sent to the server yet."),
    };
    // The box runs its own event loop, in which the user may connect again or end the
    // client.
    const QPointer<FrmMain> self(this);
    const quint64 asked = m_session.connectionSerial();
    const int answer = MsgBox(prompt.join(QStringLiteral("\r\n")), vbYesNo | vbQuestion,
                              QStringLiteral("Trust this server?"));
    if (!self || m_unloaded || m_session.connectionSerial() != asked)
        return;
    if (answer != vbYes) {
        txtOut(QStringLiteral("Disconnected."));
        return;
    }
    if (!SaveSetting(SettingsStore::ClientTlsPin, pin) ||
        !SaveSetting(SettingsStore::ClientTlsPinServer, server)) {
        txtOut(QStringLiteral("The trusted key could not be saved."));
        return;
    }
    txtOut(QStringLiteral("Trusted the key ") + keyfingerprint::display(pin) +
           QStringLiteral(" for ") + server + QLatin1Char('.'));
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    m_keeper->userConnect(server.left(colon), server.mid(colon + 1));
    m_session.connectTo(server.left(colon), server.mid(colon + 1));
    txtOut(QStringLiteral("Connecting."));
}

void FrmMain::sckConnect_KeyChanged(const QString& trusted, const QString& offered)
{
    const QString server = m_session.target();
    m_keeper->keyRefused();
    m_session.close();
    txtOut(QStringLiteral("The key of %1 has changed; no password was sent.").arg(server));
    txtOut(QStringLiteral("Disconnected."));
    resetConnectionControls();
    timerConnected_Timer();
    const QStringList prompt{
        QStringLiteral("The key of %1 is not the one you trusted.").arg(server),
        QString(),
        QStringLiteral("Trusted:"),
        keyfingerprint::displayLines(trusted),
        QStringLiteral("Offered:"),
        keyfingerprint::displayLines(offered),
        QString(),
        QStringLiteral("Someone may be posing as the server: no password was sent, and the "
                       "client will not retry. If the server was given a new key, turn "
                       "\"Use TLS\" off and on again in Settings to trust the new one."),
    };
    MsgBox(prompt.join(QStringLiteral("\r\n")), vbCritical,
           QStringLiteral("The server's key has changed"));
}

void FrmMain::giveUpConnection(const QString& description)
{
    if (m_session.state() == Session::Closed)
        return;
    m_session.close();
    sckConnect_Error(QAbstractSocket::SocketTimeoutError, description);
}

bool FrmMain::reportFailure(int number, const QString& description, bool withBox)
{
    if (withBox) {
        const QStringList prompt{
            QStringLiteral("Error in connecting to server."),
            QString(),
            QStringLiteral("Error code: ") + QString::number(number),
            QStringLiteral("Description: ") + description,
            QString(),
            QStringLiteral("Possible errors:"),
            QStringLiteral("* Make sure that the source is a Quillora server."),
            QStringLiteral("* Make sure that the port is correct."),
            QStringLiteral("* Only IP or hostname are valid input."),
        };
        const QPointer<FrmMain> self(this);
        const quint64 failed = m_session.connectionSerial();
        MsgBox(prompt.join(QStringLiteral("\r\n")), vbCritical,
               QStringLiteral("Error in connection"));
        if (!self || m_unloaded)
            return false;
        if (m_session.connectionSerial() != failed) {
            // The user connected again while the box was open: that connection stays,
            // and what follows the end (retries, the reason) is no longer this one's.
            txtOut(QStringLiteral("Error: ") + QString::number(number) +
                   QStringLiteral(" Description: ") + description);
            return false;
        }
    }
    m_session.close();
    txtOut(QStringLiteral("Error: ") + QString::number(number) + QStringLiteral(" Description: ") +
           description);
    txtOut(QStringLiteral("Disconnected."));
    resetConnectionControls();
    return true;
}

void FrmMain::resetConnectionControls()
{
    txtDebug[0]->setEnabled(true);
    txtDebug[1]->setEnabled(true);
    cmdConnect[0]->setEnabled(true);
    cmdConnect[1]->setEnabled(m_keeper->reconnecting());
}

void FrmMain::timerConnected_Timer()
{
    const bool connected = m_session.isConnected();
    ToolAddEditContacts->setEnabled(connected);
    StatisticsStatistics->setEnabled(connected);
    cmdConnect[0]->setEnabled(!connected);
    // While retries are under way, Disconnect stops them.
    cmdConnect[1]->setEnabled(connected || m_keeper->reconnecting());
    txtDebug[0]->setEnabled(!connected);
    txtDebug[1]->setEnabled(!connected);
    if (!connected) {
        const QString status = m_keeper->statusText();
        statusPanel[0]->setText(status.isEmpty() ? QStringLiteral("Not connected") : status);
        statusPanel[1]->setText(m_keeper->detailText());
    }
    showStateInTray(connected);
}
