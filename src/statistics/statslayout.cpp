#include "statistics/statslayout.h"

#include "session/modvariables.h"

#include <algorithm>

namespace statslayout {

namespace {

const Layout CallList{{{QStringLiteral("Fullname"), 4000},
                       {QStringLiteral("Call time"), 2500},
                       {QStringLiteral("Call number"), 2000}},
                      9300};

const Layout ContactTable{{{QStringLiteral("ID"), 500},
                           {QStringLiteral("Fullname"), 3000},
                           {QStringLiteral("Home phone"), 1200},
                           {QStringLiteral("Mobile phone"), 1200},
                           {QStringLiteral("Bus. phone"), 1200},
                           {QStringLiteral("Bus. fax"), 1200},
                           {QStringLiteral("E-mail"), 2500},
                           {QStringLiteral("Calls"), 600},
                           {QStringLiteral("Unrecognized"), 1200}},
                          13350};

} // namespace

const Layout* layoutFor(protocol::StatsKind kind)
{
    switch (kind) {
    case protocol::StatsKind::LastCalls:
    case protocol::StatsKind::UnrecognisedCalls:
        return &CallList;
    case protocol::StatsKind::TopCallers:
    case protocol::StatsKind::ContactList:
        return &ContactTable;
    case protocol::StatsKind::Other:
        break;
    }
    return nullptr;
}

void layOut(GridModel& grid, const Layout& layout)
{
    grid.clear();
    const int columns = static_cast<int>(layout.columns.size());
    grid.setCols(columns);
    for (int c = 0; c < columns; ++c) {
        const Column& column = layout.columns[static_cast<size_t>(c)];
        grid.setTextMatrix(0, c, column.header);
        grid.setColWidth(c, column.widthTwips);
    }
}

void fill(GridModel& grid, QStringList fields, int columns, int& rowPlain)
{
    rowPlain = ModVariables::True;
    grid.reserveRows(grid.rows() + static_cast<int>(fields.size() / std::max(columns, 1)));
    int column = 0;
    for (QString& field : fields) {
        if (rowPlain == ModVariables::False)
            grid.setCellBackColor(ShadedRow);
        grid.setText(std::move(field));
        if (column == columns - 1) {
            rowPlain = rowPlain == ModVariables::True ? ModVariables::False : ModVariables::True;
            grid.setCol(0);
            grid.setRows(grid.rows() + 1);
            grid.setRow(grid.row() + 1);
            column = 0;
        } else {
            grid.setCol(grid.col() + 1);
            ++column;
        }
    }
}

int recordsAsked(const QString& count)
{
    bool ok = false;
    const int records = protocol::isAllDigits(count) ? count.toInt(&ok) : 0;
    return ok && records > 0 ? std::min(records, MaxRecords) : MaxRecords;
}

const Layout* show(GridModel& grid, const QString& reply, int& rowPlain, int maxRecords)
{
    const GridModel::Batch batch(grid);
    grid.setCol(0);
    grid.setRows(2);
    grid.setRow(1);
    const Layout* layout = layoutFor(protocol::statsKind(reply));
    if (!layout)
        return nullptr;
    layOut(grid, *layout);
    const int columns = static_cast<int>(layout->columns.size());
    fill(grid, protocol::statsFields(reply, static_cast<qsizetype>(maxRecords) * columns), columns,
         rowPlain);
    return layout;
}

} // namespace statslayout
