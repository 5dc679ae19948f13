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
    // contact matched); only the unknown ones when unknownOnly is set. Given a call of such
    // a list, the ones that follow it, so that a long list can be read in parts.
    QList<replies::CallRow> newest(int count, bool unknownOnly,
                                   const replies::CallRow* after = nullptr);

    // Calls logged for each contact.
    QHash<qint64, qint64> countsByContact();
    // Calls that matched no contact when they came in, counted for every contact that has
    // a number with their digits now.
    QHash<qint64, qint64> unrecognisedCountsByContact();

    qint64 count();

private:
    // Appends the newest calls that meet the SQL condition; false when they could not be read.
    bool readNewest(QList<replies::CallRow>& rows, int count, bool unknownOnly,
                    const QString& condition, QVariantList values);

    Database& m_db;
};
