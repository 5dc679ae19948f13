// The statistics grid: the model's grid operations, the fill of a reply's fields, and
// the table view over it.

#include "session/modvariables.h"
#include "shell/twips.h"
#include "statistics/gridmodel.h"
#include "statistics/statsgrid.h"
#include "statistics/statslayout.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

namespace {

const QColor Grey(0xE0, 0xE0, 0xE0);

// Lays the grid out for a kind and fills it with the fields, as a reply does.
void show(GridModel& grid, protocol::StatsKind kind, const QStringList& fields)
{
    const statslayout::Layout* layout = statslayout::layoutFor(kind);
    QVERIFY(layout);
    grid.setCol(0);
    grid.setRows(2);
    grid.setRow(1);
    statslayout::layOut(grid, *layout);
    int plain = 0;
    statslayout::fill(grid, fields, static_cast<int>(layout->columns.size()), plain);
}

QStringList rowTexts(const GridModel& grid, int row)
{
    QStringList texts;
    for (int c = 0; c < grid.cols(); ++c)
        texts << grid.textMatrix(row, c);
    return texts;
}

QList<bool> rowShading(const GridModel& grid, int row)
{
    QList<bool> shaded;
    for (int c = 0; c < grid.cols(); ++c)
        shaded << (grid.backColorAt(row, c) == Grey);
    return shaded;
}

} // namespace

class TestStatsGrid : public QObject {
    Q_OBJECT
private slots:
    void rowAndColumnCountsKeepWhatStays()
    {
        GridModel grid;
        grid.setCols(3);
        grid.setRows(4);
        grid.setRow(3);
        grid.setCol(2);
        grid.setText(QStringLiteral("r3c2"));
        grid.setTextMatrix(1, 1, QStringLiteral("r1c1"));
        grid.setRow(1);
        grid.setCol(0);
        grid.setCellBackColor(Grey);

        grid.setRows(2);
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(grid.textMatrix(1, 1), QStringLiteral("r1c1"));
        QCOMPARE(grid.backColorAt(1, 0), Grey);
        grid.setRows(4);
        QCOMPARE(grid.textMatrix(3, 2), QString()); // a row cut off does not come back
        QVERIFY(!grid.backColorAt(3, 2).isValid());

        grid.setColWidth(0, 500);
        grid.setCols(2);
        QCOMPARE(grid.textMatrix(1, 1), QStringLiteral("r1c1"));
        QCOMPARE(grid.backColorAt(1, 0), Grey);
        QCOMPARE(grid.col(), 0);
        grid.setCols(5);
        QCOMPARE(grid.textMatrix(1, 1), QStringLiteral("r1c1"));
        QCOMPARE(grid.textMatrix(1, 4), QString());
        QCOMPARE(grid.colWidth(0), 500);
        QCOMPARE(grid.colWidth(4), GridModel::DefaultWidth);
    }

    void currentCellFollowsShrinking()
    {
        GridModel grid;
        grid.setCols(4);
        grid.setRows(6);
        grid.setRow(5);
        grid.setCol(3);
        grid.setRows(3);
        grid.setCols(2);
        QCOMPARE(grid.row(), 2);
        QCOMPARE(grid.col(), 1);
        grid.setText(QStringLiteral("x")); // still a valid cell
        QCOMPARE(grid.textMatrix(2, 1), QStringLiteral("x"));
    }

    void clearEmptiesCellsOnly()
    {
        GridModel grid;
        grid.setCols(3);
        grid.setRows(3);
        grid.setColWidth(2, 700);
        grid.setTextMatrix(0, 0, QStringLiteral("Header"));
        grid.setRow(2);
        grid.setCol(1);
        grid.setText(QStringLiteral("x"));
        grid.setCellBackColor(Grey);
        grid.clear();
        QCOMPARE(grid.rows(), 3);
        QCOMPARE(grid.cols(), 3);
        QCOMPARE(grid.textMatrix(0, 0), QString());
        QCOMPARE(grid.textMatrix(2, 1), QString());
        QVERIFY(!grid.backColorAt(2, 1).isValid());
        QCOMPARE(grid.colWidth(2), 700);
    }

    void leavingTheGridThrows()
    {
        GridModel grid;
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRow(2));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setCol(-1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, (void)grid.textMatrix(0, 2));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setRows(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setCols(0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.setColWidth(2, 100));
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(grid.cols(), 2);
    }

    void viewsSeeRowZeroAsHeader()
    {
        GridModel grid;
        grid.setCols(2);
        grid.setRows(3);
        grid.setTextMatrix(0, 1, QStringLiteral("Calls"));
        grid.setTextMatrix(2, 1, QStringLiteral("42"));
        grid.setRow(2);
        grid.setCol(1);
        grid.setCellBackColor(Grey);
        QCOMPARE(grid.rowCount(), 2);
        QCOMPARE(grid.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Calls"));
        QCOMPARE(grid.data(grid.index(1, 1)).toString(), QStringLiteral("42"));
        QCOMPARE(grid.data(grid.index(1, 1), Qt::BackgroundRole).value<QColor>(), Grey);
        QVERIFY(!grid.data(grid.index(0, 1), Qt::BackgroundRole).isValid());
    }

    void changesReachViews()
    {
        GridModel grid;
        QSignalSpy resets(&grid, &QAbstractItemModel::modelReset);
        QSignalSpy cells(&grid, &QAbstractItemModel::dataChanged);
        QSignalSpy headers(&grid, &QAbstractItemModel::headerDataChanged);

        grid.setTextMatrix(1, 1, QStringLiteral("a"));
        QCOMPARE(cells.size(), 1);
        QCOMPARE(cells.at(0).at(0).toModelIndex(), grid.index(0, 1));
        grid.setTextMatrix(0, 1, QStringLiteral("H"));
        QCOMPARE(headers.size(), 1);
        grid.setRows(5);
        QCOMPARE(resets.size(), 1);

        // A whole fill inside a batch is one reset and nothing else.
        resets.clear();
        cells.clear();
        headers.clear();
        {
            const GridModel::Batch batch(grid);
            show(grid, protocol::StatsKind::LastCalls, {"a", "b", "c", "d", "e", "f"});
        }
        QCOMPARE(resets.size(), 1);
        QCOMPARE(cells.size(), 0);
        QCOMPARE(headers.size(), 0);
        QCOMPARE(grid.rowCount(), 3);

        // A batch left by an exception still ends.
        resets.clear();
        try {
            const GridModel::Batch batch(grid);
            grid.setRow(99);
        } catch (const std::out_of_range&) {
        }
        QCOMPARE(resets.size(), 1);
        grid.setTextMatrix(1, 0, QStringLiteral("after"));
        QCOMPARE(cells.size(), 1);
    }

    void callListFill()
    {
        GridModel grid;
        show(grid, protocol::StatsKind::LastCalls,
             protocol::statsFields(QStringLiteral("STATS:LAST#00Ann,12:01,5551234,Bob,12:05,"
                                                  "5559876")));
        QCOMPARE(grid.cols(), 3);
        QCOMPARE(grid.rows(), 4);
        QCOMPARE(rowTexts(grid, 0), (QStringList{"Fullname", "Call time", "Call number"}));
        QCOMPARE(rowTexts(grid, 1), (QStringList{"Ann", "12:01", "5551234"}));
        QCOMPARE(rowTexts(grid, 2), (QStringList{"Bob", "12:05", "5559876"}));
        QCOMPARE(rowTexts(grid, 3), (QStringList{"", "", ""}));
        QCOMPARE(rowShading(grid, 1), (QList<bool>{false, false, false}));
        QCOMPARE(rowShading(grid, 2), (QList<bool>{true, true, true}));
        QCOMPARE(rowShading(grid, 3), (QList<bool>{false, false, false}));
        QCOMPARE(grid.colWidth(0), 4000);
        QCOMPARE(grid.colWidth(1), 2500);
        QCOMPARE(grid.colWidth(2), 2000);
        QCOMPARE(grid.row(), 3);
        QCOMPARE(grid.col(), 0);
    }

    void shadingAlternatesAndAPartialRecordFillsItsLeadingCells()
    {
        GridModel grid;
        QStringList fields;
        for (int i = 0; i < 3 * 4 + 1; ++i)
            fields << QString::number(i);
        show(grid, protocol::StatsKind::UnrecognisedCalls, fields);
        // Four complete records in rows 1 to 4, the partial one in row 5, no row after it.
        QCOMPARE(grid.rows(), 6);
        QCOMPARE(rowShading(grid, 1), (QList<bool>{false, false, false}));
        QCOMPARE(rowShading(grid, 2), (QList<bool>{true, true, true}));
        QCOMPARE(rowShading(grid, 3), (QList<bool>{false, false, false}));
        QCOMPARE(rowShading(grid, 4), (QList<bool>{true, true, true}));
        QCOMPARE(rowTexts(grid, 5), (QStringList{"12", "", ""}));

        // In a shaded row only the cells that receive a field are shaded.
        show(grid, protocol::StatsKind::LastCalls, {"a", "b", "c", "d", "e"});
        QCOMPARE(grid.rows(), 3);
        QCOMPARE(rowTexts(grid, 2), (QStringList{"d", "e", ""}));
        QCOMPARE(rowShading(grid, 2), (QList<bool>{true, true, false}));
    }

    void contactTableFill()
    {
        const QStringList record{"7", "Ann Lee", "1", "2", "3", "4", "ann@example.org", "12", "0"};
        for (const auto kind :
             {protocol::StatsKind::TopCallers, protocol::StatsKind::ContactList}) {
            GridModel grid;
            show(grid, kind, record);
            QCOMPARE(grid.cols(), 9);
            QCOMPARE(grid.rows(), 3);
            QCOMPARE(rowTexts(grid, 0),
                     (QStringList{"ID", "Fullname", "Home phone", "Mobile phone", "Bus. phone",
                                  "Bus. fax", "E-mail", "Calls", "Unrecognized"}));
            QCOMPARE(rowTexts(grid, 1), record);
            QCOMPARE(rowTexts(grid, 2), QStringList(9, QString()));
            const QList<int> widths{500, 3000, 1200, 1200, 1200, 1200, 2500, 600, 1200};
            for (int c = 0; c < 9; ++c)
                QCOMPARE(grid.colWidth(c), widths.at(c));
        }
        QVERIFY(!statslayout::layoutFor(protocol::StatsKind::Other));
    }

    void layOutClearsWhatWasThere()
    {
        GridModel grid;
        show(grid, protocol::StatsKind::TopCallers, QStringList(18, QStringLiteral("x")));
        show(grid, protocol::StatsKind::LastCalls, {});
        QCOMPARE(grid.cols(), 3);
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(rowTexts(grid, 1), (QStringList{"", "", ""}));
        QCOMPARE(rowShading(grid, 1), (QList<bool>{false, false, false}));
    }

    void viewKeepsColumnWidthsInPixels()
    {
        StatsGrid view;
        GridModel& grid = view.grid();
        {
            const GridModel::Batch batch(grid);
            show(grid, protocol::StatsKind::TopCallers, QStringList(9, QStringLiteral("x")));
        }
        QCOMPARE(view.model()->rowCount(), 2);
        QCOMPARE(view.columnWidth(0), twips(500));
        QCOMPARE(view.columnWidth(6), twips(2500));
        // A later change of the row count resets the view; the widths stay.
        grid.setRows(10);
        QCOMPARE(view.columnWidth(1), twips(3000));
        QCOMPARE(view.columnWidth(8), twips(1200));
        QCOMPARE(view.horizontalHeader()->count(), 9);
    }
};

QTEST_MAIN(TestStatsGrid)
#include "tst_statsgrid.moc"
