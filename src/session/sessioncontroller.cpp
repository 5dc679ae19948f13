// The main window's session side: the Connect and Disconnect commands, the socket's
// Connect, Close and Error events, and the mirroring of the socket state into the
// window's controls.

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
        m_session.connectTo(host, port);
        txtOut(QStringLiteral("Connecting."));
    } else if (index == 1) {
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
}

void FrmMain::sckConnect_Close()
{
    m_session.close();
    txtOut(QStringLiteral("Disconnected."));
}

void FrmMain::sckConnect_Error(int number, const QString& description)
{
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
    // The box runs its own event loop, in which the user may end the client.
    const QPointer<FrmMain> self(this);
    MsgBox(prompt.join(QStringLiteral("\r\n")), vbCritical, QStringLiteral("Error in connection"));
    if (!self || m_unloaded)
        return;
    m_session.close();
    txtOut(QStringLiteral("Error: ") + QString::number(number) + QStringLiteral(" Description: ") +
           description);
    txtOut(QStringLiteral("Disconnected."));
    txtDebug[0]->setEnabled(true);
    txtDebug[1]->setEnabled(true);
    cmdConnect[0]->setEnabled(true);
    cmdConnect[1]->setEnabled(false);
}

void FrmMain::timerConnected_Timer()
{
    const bool connected = m_session.isConnected();
    ToolAddEditContacts->setEnabled(connected);
    StatisticsStatistics->setEnabled(connected);
    cmdConnect[0]->setEnabled(!connected);
    cmdConnect[1]->setEnabled(connected);
    txtDebug[0]->setEnabled(!connected);
    txtDebug[1]->setEnabled(!connected);
    if (!connected) {
        statusPanel[0]->setText(QStringLiteral("Not connected"));
        statusPanel[1]->setText(QString());
    }
}
