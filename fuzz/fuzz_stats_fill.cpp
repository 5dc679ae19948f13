// Client: statistics replies as the statistics window shows them.
//
// The input is one or more received replies, separated by ReadSeparator, shown one after
// the other in the same grid, as the window does when each arrives. After each, every field
// must sit in its own cell in order, whole records to a row, every second row shaded, the
// headers and widths of the reply's kind in place, and nothing else left in the grid from
// the reply before.

#include "fuzzcheck.h"

#include "session/modvariables.h"
#include "session/protocol.h"
#include "statistics/gridmodel.h"
#include "statistics/statslayout.h"

namespace {

// The field list: each field as written, trimmed of spaces, none lost.
void checkFields(const QString& reply, const QStringList& fields)
{
    const qsizetype hash = reply.indexOf(QLatin1Char('#'));
    const QString list = reply.mid(hash < 0 ? 2 : hash + 3);
    if (list.isEmpty()) {
        FUZZ_CHECK(fields.isEmpty());
        return;
    }
    FUZZ_CHECK(fields.size() == list.count(QLatin1Char(',')) + 1);
    qsizetype characters = fields.size() - 1;
    for (const QString& field : fields) {
        FUZZ_CHECK(!field.contains(QLatin1Char(',')));
        FUZZ_CHECK(!field.startsWith(QLatin1Char(' ')) && !field.endsWith(QLatin1Char(' ')));
        characters += field.size();
    }
    FUZZ_CHECK(characters <= list.size());
}

void checkGrid(const GridModel& grid, const statslayout::Layout& layout, const QStringList& fields,
               int rowPlain)
{
    const int columns = static_cast<int>(layout.columns.size());
    const int records = static_cast<int>(fields.size() / columns);
    FUZZ_CHECK(grid.cols() == columns);
    FUZZ_CHECK(grid.rows() == GridModel::FixedRows + records + 1);
    FUZZ_CHECK(grid.rowCount() == grid.rows() - GridModel::FixedRows);
    // The cell the next field would go to.
    FUZZ_CHECK(grid.row() == 1 + records);
    FUZZ_CHECK(grid.col() == static_cast<int>(fields.size() % columns));
    FUZZ_CHECK(rowPlain == (records % 2 == 0 ? ModVariables::True : ModVariables::False));

    for (int c = 0; c < columns; ++c) {
        const statslayout::Column& column = layout.columns[static_cast<size_t>(c)];
        FUZZ_CHECK(grid.textMatrix(0, c) == column.header);
        FUZZ_CHECK(grid.colWidth(c) == column.widthTwips);
        FUZZ_CHECK(!grid.backColorAt(0, c).isValid());
    }
    for (int row = 1; row < grid.rows(); ++row) {
        const bool shaded = row % 2 == 0;
        for (int c = 0; c < columns; ++c) {
            const qsizetype at = qsizetype(row - 1) * columns + c;
            const bool written = at < fields.size();
            FUZZ_CHECK(grid.textMatrix(row, c) == (written ? fields[at] : QString()));
            const QColor back = grid.backColorAt(row, c);
            FUZZ_CHECK(back.isValid() == (written && shaded));
            FUZZ_CHECK(!back.isValid() || back == statslayout::ShadedRow);
            const QModelIndex index = grid.index(row - GridModel::FixedRows, c);
            FUZZ_CHECK(grid.data(index).toString() == grid.textMatrix(row, c));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GridModel grid;
    int rowPlain = ModVariables::False;
    for (const QByteArray& bytes : fuzzcheck::reads(data, size)) {
        const QString reply = protocol::decode(bytes);
        const QStringList fields = protocol::statsFields(reply);
        checkFields(reply, fields);

        const statslayout::Layout* layout = statslayout::show(grid, reply, rowPlain);
        if (layout)
            checkGrid(grid, *layout, fields, rowPlain);
        else // another kind: the grid is only cut back to its first data row
            FUZZ_CHECK(grid.rows() == 2 && grid.row() == 1 && grid.col() == 0);
    }
    return 0;
}
