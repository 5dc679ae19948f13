#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <vector>

// A grid of text cells with one fixed header row and no fixed column, offering the
// operations of the classic grid control: row and column counts, a current cell, its
// text and background colour, any cell's text, column widths in twips and clear.
//
// Views see grid row 0 as the horizontal header and grid rows 1.. as their rows.
// Operations in grid coordinates that leave the grid throw std::out_of_range.
class GridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int FixedRows = 1;
    static constexpr int DefaultWidth = -1; // a column width left to the view

    explicit GridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int rows() const { return m_rows; }
    void setRows(int rows);
    int cols() const { return m_cols; }
    void setCols(int cols);
    // Makes room for growing to the given row count without moving cells again.
    void reserveRows(int rows);

    int row() const { return m_row; }
    void setRow(int row);
    int col() const { return m_col; }
    void setCol(int col);

    // The current cell.
    QString text() const { return m_text[offset(m_row, m_col)]; }
    void setText(QString text);
    QColor cellBackColor() const { return backColorAt(m_row, m_col); }
    void setCellBackColor(const QColor& color);

    // Any cell; an invalid colour is the grid's own background.
    QString textMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, QString text);
    QColor backColorAt(int row, int col) const;

    int colWidth(int col) const;
    void setColWidth(int col, int widthTwips);

    // Empties the text and the colour of every cell; counts and widths stay.
    void clear();

    // Changes between the two reach the views as one reset, which keeps filling
    // thousands of rows fast. Batches may nest.
    void beginBatch();
    void endBatch();

    // A batch for the lifetime of one scope, ended also when the scope is left by an
    // exception.
    class Batch final {
    public:
        explicit Batch(GridModel& model) : m_model(model) { m_model.beginBatch(); }
        ~Batch() { m_model.endBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        GridModel& m_model;
    };

signals:
    void colWidthChanged(int col);

private:
    qsizetype offset(int row, int col) const;
    void checkRow(int row) const;
    void checkCol(int col) const;
    void cellChanged(int row, int col);

    int m_rows = 2;
    int m_cols = 2;
    int m_row = 1;
    int m_col = 0;
    int m_batch = 0;
    std::vector<QString> m_text; // row-major, m_rows * m_cols
    std::vector<QRgb> m_back;    // alpha 0: the grid's own background
    std::vector<int> m_widths;   // twips, or DefaultWidth
};
