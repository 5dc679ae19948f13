// The statistics grid: the model's grid operations, the fill of a reply's fields, and
// the table view over it.

#include "shell/twips.h"
#include "statistics/statsgrid.h"
#include "statistics/statslayout.h"

#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

namespace {

const QColor Grey(0xE0, 0xE0, 0xE0);

// Lays the grid out for a kind and fills it with the fields, as a reply does.
void show(GridModel& grid, protocol::StatsKind kind, const QStringList& fields)
{
    const statslayout::Layout* layout = statslayout::layoutFor(kind);
    grid.setCol(0);
    grid.setRows(2);
    grid.setRow(1);
    statslayout::layOut(grid, *layout);
    int plain = 0;
    statslayout::fill(grid, fields, static_cast<int>(layout->columns.size()), plain);
}

QString row(const GridModel& grid, int r)
{
    QStringList cells;
    for (int c = 0; c < grid.cols(); ++c)
        cells << grid.textMatrix(r, c) + (grid.backColorAt(r, c) == Grey ? "*" : "");
    return cells.join(QLatin1Char('|'));
}

} // namespace

class TestStatsGrid : public QObject {
    Q_OBJECT
private slots:
    void cutBackKeepsLeadingRowsAndNothingLeavesTheGrid()
    {
        GridModel grid;
        grid.setRows(4);
        grid.setTextMatrix(1, 1, QStringLiteral("b"));
        grid.setTextMatrix(3, 0, QStringLiteral("gone"));
        grid.setRow(3);
        grid.setRows(2);
        grid.setText(QStringLiteral("a")); // the current cell moved inside
        grid.setRows(4);
        QCOMPARE(row(grid, 1) + row(grid, 3), QStringLiteral("a|b|"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRow(4));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setCol(-1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRows(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, (void)grid.textMatrix(0, 2));
    }

    void fillShadesCellByCell()
    {
        GridModel grid;
        show(grid, protocol::StatsKind::LastCalls,
             {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
        QCOMPARE(grid.rows(), 5); // header, three records, the partial one; no row after it
        QCOMPARE(row(grid, 0), QStringLiteral("Fullname|Call time|Call number"));
        QCOMPARE(row(grid, 1), QStringLiteral("0|1|2"));
        QCOMPARE(row(grid, 2), QStringLiteral("3*|4*|5*"));
        QCOMPARE(row(grid, 3), QStringLiteral("6|7|8"));
        QCOMPARE(row(grid, 4), QStringLiteral("9*|10*|")); // unwritten cells stay plain

        // A new lay-out starts from empty cells.
        show(grid, protocol::StatsKind::UnrecognisedCalls, {"a"});
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(row(grid, 1), QStringLiteral("a||"));
    }

    void viewSeesOneResetAndKeepsWidths()
    {
        StatsGrid view;
        GridModel& grid = view.grid();
        QSignalSpy resets(&grid, &QAbstractItemModel::modelReset);
        QSignalSpy cells(&grid, &QAbstractItemModel::dataChanged);
        {
            const GridModel::Batch batch(grid);
            show(grid, protocol::StatsKind::TopCallers, QStringList(18, QStringLiteral("x")));
        }
        QCOMPARE(resets.size(), 1);
        QCOMPARE(cells.size(), 0);
        QCOMPARE(view.model()->rowCount(), 3);
        QCOMPARE(view.model()->headerData(8, Qt::Horizontal).toString(),
                 QStringLiteral("Unrecognized"));
        QCOMPARE(view.model()->index(1, 0).data(Qt::BackgroundRole).value<QColor>(), Grey);
        QCOMPARE(view.columnWidth(0), twips(500));

        // Outside a batch a cell change is a data change; a row count change resets the
        // view, and the widths stay.
        grid.setTextMatrix(2, 3, QStringLiteral("y"));
        QCOMPARE(cells.size(), 1);
        QCOMPARE(cells.at(0).at(0).toModelIndex(), view.model()->index(1, 3));
        grid.setRows(10);
        QCOMPARE(view.columnWidth(1), twips(3000));
        QCOMPARE(view.columnWidth(8), twips(1200));

        // A batch left by an exception still ends.
        try {
            const GridModel::Batch batch(grid);
            grid.setRow(99);
        } catch (const std::out_of_range&) {
        }
        QCOMPARE(resets.size(), 3);
        grid.setTextMatrix(1, 0, QStringLiteral("z"));
        QCOMPARE(cells.size(), 2);
    }
};

QTEST_MAIN(TestStatsGrid)
#include "tst_statsgrid.moc"
