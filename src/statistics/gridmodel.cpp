#include "statistics/gridmodel.h"

#include <algorithm>
#include <stdexcept>

GridModel::GridModel(QObject* parent)
    : QAbstractTableModel(parent), m_text(static_cast<size_t>(m_rows * m_cols)),
      m_back(m_text.size(), 0), m_widths(static_cast<size_t>(m_cols), DefaultWidth)
{
}

int GridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows - FixedRows;
}

int GridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QVariant GridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= m_cols)
        return {};
    const int row = index.row() + FixedRows;
    switch (role) {
    case Qt::DisplayRole:
        return m_text[offset(row, index.column())];
    case Qt::BackgroundRole: {
        const QColor color = backColorAt(row, index.column());
        return color.isValid() ? QVariant(color) : QVariant();
    }
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_cols)
        return {};
    if (role == Qt::DisplayRole)
        return m_text[offset(0, section)];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

qsizetype GridModel::offset(int row, int col) const
{
    return static_cast<qsizetype>(row) * m_cols + col;
}

void GridModel::checkRow(int row) const
{
    if (row < 0 || row >= m_rows)
        throw std::out_of_range("grid row out of range");
}

void GridModel::checkCol(int col) const
{
    if (col < 0 || col >= m_cols)
        throw std::out_of_range("grid column out of range");
}

void GridModel::setRows(int rows)
{
    if (rows < FixedRows)
        throw std::out_of_range("grid needs its fixed row");
    beginBatch(); // a structural change resets the views
    const auto cells = static_cast<size_t>(rows) * static_cast<size_t>(m_cols);
    m_text.resize(cells);
    m_back.resize(cells, 0);
    m_rows = rows;
    if (m_row >= m_rows)
        m_row = m_rows - 1;
    endBatch();
}

void GridModel::setCols(int cols)
{
    if (cols < 1)
        throw std::out_of_range("grid needs a column");
    if (cols == m_cols)
        return;
    beginBatch(); // a structural change resets the views
    const auto cells = static_cast<size_t>(m_rows) * static_cast<size_t>(cols);
    std::vector<QString> text(cells);
    std::vector<QRgb> back(cells, 0);
    const int kept = std::min(cols, m_cols);
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < kept; ++c) {
            const auto to =
                static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c);
            text[to] = std::move(m_text[offset(r, c)]);
            back[to] = m_back[offset(r, c)];
        }
    }
    m_text.swap(text);
    m_back.swap(back);
    m_widths.resize(static_cast<size_t>(cols), DefaultWidth);
    m_cols = cols;
    if (m_col >= m_cols)
        m_col = m_cols - 1;
    endBatch();
}

void GridModel::reserveRows(int rows)
{
    const auto cells = static_cast<size_t>(std::max(rows, 0)) * static_cast<size_t>(m_cols);
    m_text.reserve(cells);
    m_back.reserve(cells);
}

void GridModel::setRow(int row)
{
    checkRow(row);
    m_row = row;
}

void GridModel::setCol(int col)
{
    checkCol(col);
    m_col = col;
}

void GridModel::setText(QString text)
{
    m_text[offset(m_row, m_col)] = std::move(text);
    cellChanged(m_row, m_col);
}

void GridModel::setCellBackColor(const QColor& color)
{
    m_back[offset(m_row, m_col)] = color.isValid() ? color.rgba() : 0;
    cellChanged(m_row, m_col);
}

QString GridModel::textMatrix(int row, int col) const
{
    checkRow(row);
    checkCol(col);
    return m_text[offset(row, col)];
}

void GridModel::setTextMatrix(int row, int col, QString text)
{
    checkRow(row);
    checkCol(col);
    m_text[offset(row, col)] = std::move(text);
    cellChanged(row, col);
}

QColor GridModel::backColorAt(int row, int col) const
{
    checkRow(row);
    checkCol(col);
    const QRgb rgba = m_back[offset(row, col)];
    return qAlpha(rgba) == 0 ? QColor() : QColor::fromRgba(rgba);
}

int GridModel::colWidth(int col) const
{
    checkCol(col);
    return m_widths[static_cast<size_t>(col)];
}

void GridModel::setColWidth(int col, int widthTwips)
{
    checkCol(col);
    m_widths[static_cast<size_t>(col)] = widthTwips;
    emit colWidthChanged(col);
}

void GridModel::clear()
{
    beginBatch(); // a structural change resets the views
    std::fill(m_text.begin(), m_text.end(), QString());
    std::fill(m_back.begin(), m_back.end(), 0);
    endBatch();
}

void GridModel::beginBatch()
{
    if (m_batch++ == 0)
        beginResetModel();
}

void GridModel::endBatch()
{
    if (m_batch > 0 && --m_batch == 0)
        endResetModel();
}

void GridModel::cellChanged(int row, int col)
{
    if (m_batch > 0)
        return;
    if (row < FixedRows) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex index = this->index(row - FixedRows, col);
        emit dataChanged(index, index);
    }
}
