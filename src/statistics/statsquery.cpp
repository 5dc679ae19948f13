// The statistics window's query and reply poller: the Query button sends one request
// and starts the poller; each tick of the poller either shows a reply from the
// statistics mailbox in the grid or counts towards the time-out. A reply that is
// visibly arriving is not late, however long a slow link takes to bring all of it:
// the time-out counts the ticks since the query or since the last part of a
// statistics reply came in.

#include "statistics/frmstatistics.h"

#include "session/modvariables.h"
#include "session/protocol.h"
#include "shell/forms.h"
#include "shell/frmmain.h"
#include "shell/msgbox.h"
#include "shell/queuedbox.h"
#include "statistics/statslayout.h"

#include <exception>

namespace {

const QString QueryTitle = QStringLiteral("Query statistic");

QString requestFor(int mode, const QString& count)
{
    switch (mode) {
    case 0:
        return protocol::statsLastRequest(count);
    case 1:
        return protocol::statsUnknownRequest(count);
    case 2:
        return protocol::statsTopRequest(count);
    default:
        return protocol::statsContactsRequest();
    }
}

void queueQueryError()
{
    queueMsgBox(QStringLiteral("There was an error trying to query statistic."), vbCritical,
                QueryTitle);
}

} // namespace

void FrmStatistics::cmdQuery_Click()
{
    Session& socket = frmMain()->sckConnect();
    if (!socket.isConnected()) {
        queueMsgBox(QStringLiteral("You are currently not connected."), vbInformation, QueryTitle);
        return;
    }
    modVariables().StatsReply.clear();
    Frame1->setEnabled(false);
    for (int mode = 0; mode < static_cast<int>(optStatMode.size()); ++mode) {
        if (!optStatMode[mode]->isChecked())
            continue;
        // The count goes out exactly as typed; what the server makes of it is its own.
        const QString count = cmbRecords->currentText();
        const QString request = requestFor(mode, count);
        if (!socket.send(request)) {
            // The query controls stay locked until the window is opened anew.
            queueQueryError();
            return;
        }
        // However much the reply holds, the grid takes no more than was asked for.
        m_askedKind = protocol::statsKind(request);
        m_askedRecords = m_askedKind == protocol::StatsKind::ContactList
                             ? statslayout::MaxRecords
                             : statslayout::recordsAsked(count);
    }
    QueryTicks = 0;
    m_arrived = socket.heldStatsBytes();
    timerStats->start();
    connect(&socket, &Session::messageReceived, this, &FrmStatistics::replyMayBeIn,
            Qt::UniqueConnection);
}

bool FrmStatistics::replyGrew()
{
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    const qsizetype arrived = main ? main->sckConnect().heldStatsBytes() : 0;
    if (arrived == m_arrived)
        return false;
    m_arrived = arrived;
    return true;
}

void FrmStatistics::replyMayBeIn()
{
    // Queued: the dispatcher stores the reply in its own handler of the same message.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const ModVariables& vars = modVariables();
            if (timerStats->isActive() && !vars.StatsReply.isEmpty() &&
                vars.StatsReplyReady == ModVariables::True)
                timerStats_Timer();
        },
        Qt::QueuedConnection);
}

void FrmStatistics::timerStats_Timer()
{
    ModVariables& vars = modVariables();
    try {
        if (!vars.StatsReply.isEmpty() && vars.StatsReplyReady == ModVariables::True) {
            timerStats->stop();
            showReply(vars.StatsReply);
            vars.StatsReplyReady = ModVariables::False;
            vars.StatsReply.clear();
            Frame1->setEnabled(true);
            // A reply shown on the tick that reaches the limit is not also a time-out.
            return;
        }
        if (replyGrew()) {
            QueryTicks = 0;
        } else if (QueryTicks == TimeoutTicks) {
            timerStats->stop();
            Frame1->setEnabled(true);
            queueMsgBox(QStringLiteral("The query timed out. Please try again. If the error "
                                       "presists, then please try to reconnect."),
                        vbInformation, QueryTitle, [] { modVariables().StatsReply.clear(); });
        } else {
            ++QueryTicks;
        }
    } catch (const std::exception&) {
        // The query controls stay as they were: locked, until the window is opened anew.
        timerStats->stop();
        vars.StatsReply.clear();
        queueQueryError();
    }
}

void FrmStatistics::showReply(QString reply)
{
    // The window's width changes only its geometry: the grid is filled in one batch after.
    const protocol::StatsKind kind = protocol::statsKind(reply);
    const statslayout::Layout* layout = statslayout::layoutFor(kind);
    if (layout && chkResize->isChecked())
        setWindowWidth(layout->windowWidthTwips);
    statslayout::show(MSFlexGrid1->grid(), reply, modVariables().StatsRowPlain,
                      kind == m_askedKind ? m_askedRecords : statslayout::MaxRecords);
}
