// The main window's session side: the Connect and Disconnect commands, the socket's
// Connect, Close and Error events, and the mirroring of the socket state into the
// window's controls. What follows the end of a connection (retries, the reason given)
// is the connection keeper's.

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
    statusPanel[1]->setText(address + QLatin1Char(':') + port);
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
