#pragma once

#include "statistics/gridmodel.h"

#include <QTableView>

// The statistics grid on screen: a table view over a GridModel. Grid row 0 is the
// header; the model's column widths (twips) are applied to the view.
class StatsGrid final : public QTableView {
    Q_OBJECT
public:
    explicit StatsGrid(QWidget* parent = nullptr);

    GridModel& grid() { return m_model; }
    const GridModel& grid() const { return m_model; }

private:
    void applyWidth(int col);
    void applyWidths();

    GridModel m_model;
};
