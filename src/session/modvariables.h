#pragma once

#include "contacts/recordlist.h"

#include <QString>
#include <QStringList>

// Process-wide values shared between the windows. Booleans kept here follow the
// classic convention: 0 is False, -1 is True.
struct ModVariables {
    static constexpr int True = -1;
    static constexpr int False = 0;

    QString ClientVersion;
    QString RequiredServerVersion;
    QString StatsReply;          // statistics mailbox: the whole "STATS:" message
    int StatsReplyReady = False; // mailbox flag: a fresh reply has been stored
    int PopUpSecondsLeft = 0;
    int LoopIndex = 0;
    int StatsRowPlain = False;
    QString LastContactSearch;
    contacts::RecordList ContactRecords; // empty until first set
};

ModVariables& modVariables();

// Puts every shared value back to its start value (used between test cases).
void resetModVariables();
