#pragma once

#include "session/protocol.h"
#include "statistics/gridmodel.h"

#include <QStringList>
#include <vector>

// How the statistics grid shows each kind of reply, and how a reply's fields fill it.
namespace statslayout {

struct Column {
    QString header;
    int widthTwips;
};

struct Layout {
    std::vector<Column> columns;
    int windowWidthTwips; // the window width that fits the columns
};

// The call list for last and unrecognised calls, the contact table for top callers and
// the contact list; nullptr for any other kind.
const Layout* layoutFor(protocol::StatsKind kind);

// The most records the grid takes from one reply, whatever was asked for. The server's
// contact lists run to some 100,000 contacts, and twice that fits. Each cell costs its
// string (24 bytes) and its background (4) besides its text, and while a reply is shown
// each field is held once more in the split list: 200,000 records of 9 empty fields take
// some 50 MB in the grid and 40 more while shown; a million would take five times that.
inline constexpr int MaxRecords = 200000;

// Background of every second data row.
inline const QColor ShadedRow = QColor(0xE0, 0xE0, 0xE0);

// Clears the grid, sets the column count and puts each header and width in place.
void layOut(GridModel& grid, const Layout& layout);

// Writes the fields record by record from the current cell on (row 1, column 0 after a
// lay-out): `columns` fields per row, a new row added after each complete record, every
// second row shaded cell by cell as it is written. rowPlain (a 16-bit Boolean, -1 True)
// is True while the row being written keeps the grid's own background.
void fill(GridModel& grid, QStringList fields, int columns, int& rowPlain);

// How many records a query for `count` records (the count as sent) takes from its reply:
// that many when it is a plain positive number, never more than MaxRecords.
int recordsAsked(const QString& count);

// Shows a whole reply, as one batch: the grid is cut back to its first data row and, for
// a kind that has a layout, laid out and filled with no more than `maxRecords` records;
// the rest of the reply is not looked at. Returns that layout; nullptr for another kind,
// which is consumed without a word.
const Layout* show(GridModel& grid, const QString& reply, int& rowPlain,
                   int maxRecords = MaxRecords);

} // namespace statslayout
