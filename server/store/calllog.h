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

    // `called`: which of the site's numbers was called, where the line said.
    bool add(const QDateTime& at, const QString& number, std::optional<qint64> contactId,
             const QString& called = QString());

    // The newest calls first, with the caller's current name ("Unknown" for a number no
    // contact matched); only the unknown ones when unknownOnly is set. Given a call of such
    // a list, the ones that follow it, so that a long list can be read in parts.
    QList<replies::CallRow> newest(int count, bool unknownOnly,
                                   const replies::CallRow* after = nullptr);

    // Counts the calls that follow the one given (by ID), at most `limit` of them: those
    // logged for each contact into `known`, and those that matched no contact when they
    // came in into `unrecognised`, for every contact that has a number with their digits
    // now. The last call counted; 0 when none followed, -1 when the log could not be read.
    // A long log is thus counted a slice at a time.
    qint64 countAfter(qint64 afterId, int limit, QHash<qint64, qint64>& known,
                      QHash<qint64, qint64>& unrecognised);

    qint64 count();

private:
    // Appends the newest calls that meet the SQL condition; false when they could not be read.
    bool readNewest(QList<replies::CallRow>& rows, int count, bool unknownOnly,
                    const QString& condition, QVariantList values);
    // Adds the counts the statement gives for the calls with IDs in (from, to].
    bool addCounts(const QString& sql, qint64 from, qint64 to, QHash<qint64, qint64>& counts);

    Database& m_db;
};
