#include "statistics/statsgrid.h"

#include "shell/twips.h"

#include <QHeaderView>

StatsGrid::StatsGrid(QWidget* parent) : QTableView(parent)
{
    setModel(&m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    // One row height for all rows keeps a grid of thousands of rows cheap to lay out.
    QHeaderView* rowsHeader = verticalHeader();
    rowsHeader->hide();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setMinimumSectionSize(1);
    rowsHeader->setDefaultSectionSize(std::max(twips(240), fontMetrics().height() + 4));

    QHeaderView* columnsHeader = horizontalHeader();
    columnsHeader->setSectionResizeMode(QHeaderView::Interactive);
    columnsHeader->setStretchLastSection(false);
    columnsHeader->setHighlightSections(false);
    columnsHeader->setMinimumSectionSize(1);

    connect(&m_model, &GridModel::colWidthChanged, this, &StatsGrid::applyWidth);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &StatsGrid::applyWidths);
    applyWidths();
}

void StatsGrid::applyWidth(int col)
{
    const int width = m_model.colWidth(col);
    if (width == GridModel::DefaultWidth)
        horizontalHeader()->resizeSection(col, horizontalHeader()->defaultSectionSize());
    else
        setColumnWidth(col, twips(width));
}

void StatsGrid::applyWidths()
{
    for (int col = 0; col < m_model.cols(); ++col)
        applyWidth(col);
}
