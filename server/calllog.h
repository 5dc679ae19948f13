#pragma once

#include "database.h"
#include "replies.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <optional>

// The log of every call the server has announced, known callers and unknown numbers.
class CallLog final {
public:
    explicit CallLog(Database& db) : m_db(db) {}

    bool add(const QDateTime& at, const QString& number, std::optional<qint64> contactId);

    // The newest calls first, with the caller's current name ("Unknown" for a number no
    // contact matched); only the unknown ones when unknownOnly is set.
    QList<replies::CallRow> newest(int count, bool unknownOnly);

    // Calls logged for each contact.
    QHash<qint64, qint64> countsByContact();
    // Calls that no contact matched, by the digits of their number.
    QHash<QString, qint64> unknownCountsByDigits();

    qint64 count();

private:
    Database& m_db;
};
