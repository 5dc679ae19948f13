#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// What a statistics reply says about its own size. Our server writes the record count
// between the kind's ";" and the first "#", and the fields per record as the two
// characters after it: "STATS:LAST;2#03" is followed by 2 × 3 fields, separated by ","
// (fields never hold a comma). Until all its fields have begun, such a reply is known
// to be short, and a pause of the link does not end it so soon.
//
// The last field has no end mark: a read boundary inside it cannot be seen, so even a
// reply whose every field has begun waits for a short quiet of the link before it is
// handed on (see linkpace.h). A count that more fields exceed is wrong and not trusted.
namespace statedsize {

enum class Progress {
    Unstated, // no usable count (other servers, contacts replies): ends when the link is quiet
    Pending,  // the count is not readable yet, or fewer fields than stated have begun
    Complete, // every stated field has begun and no more than that
    Exceeded, // more fields than stated: the count is wrong, so it is not trusted
};

// Follows one reply as it grows. Each call gets the whole reply so far (what an earlier
// call saw stays unchanged at its start) and looks only at what was added, so a reply
// that arrives in many small reads costs no more than one that arrives whole.
class Tracker final {
public:
    Progress update(QByteArrayView reply);
    void reset() { *this = Tracker(); }

private:
    Progress m_progress = Progress::Pending;
    qint64 m_fields = -1;      // stated count × fields per record, once read
    qsizetype m_listStart = 0; // where the field list begins
    qsizetype m_scanned = 0;   // bytes of the field list already counted
    qint64 m_commas = 0;
    qsizetype m_lastComma = -1;
};

// The same answer for a whole text.
Progress progress(QByteArrayView reply);

} // namespace statedsize
