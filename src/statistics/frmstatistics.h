#pragma once

#include "session/protocol.h"
#include "shell/outersize.h"
#include "statistics/statsgrid.h"
#include "statistics/statslayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <array>

// The statistics window: the user picks one of four statistics and a record count,
// queries the server and reads the answer in a grid. Geometry is kept in twips; the
// window's width and height are its outer size, the window manager's frame included.
class FrmStatistics final : public QWidget {
    Q_OBJECT
public:
    static constexpr int DesignWidthTwips = 9465; // client area
    static constexpr int DesignHeightTwips = 6375;
    static constexpr int LoadWidthTwips = 12000;
    static constexpr int MinGridWindowHeightTwips = 3700;
    static constexpr int TickMilliseconds = 15;
    // A query times out after this many ticks in which no part of its reply arrived.
    static constexpr int TimeoutTicks = 500;

    FrmStatistics();
    ~FrmStatistics() override;

    // Load: width, placement of the button, grid and frame, the record-count list.
    void Form_Load();
    // Keeps the button in the bottom-right corner and the grid and frame full width.
    void Form_Resize();

    // The query (sends the request and starts the poller) and the poller's tick.
    void cmdQuery_Click();
    void timerStats_Timer();
    // A message was handed on: a reply it put in the statistics mailbox is shown at once,
    // not at the poller's next tick.
    void replyMayBeIn();
    // Close: stops polling, empties the statistics mailbox, unloads the window.
    void cmdButton_Click();

    // The connection watch: while enabled it runs on every change of the main socket's
    // state and once right after being enabled; it closes the window when the
    // connection is not up.
    void setTimerConnectedEnabled(bool enabled);
    bool timerConnectedEnabled() const { return m_watching; }
    void timerConnected_Timer();

    // Outer size in twips.
    int windowWidth() const;
    int windowHeight() const;
    void setWindowWidth(int widthTwips);
    void setWindowHeight(int heightTwips);

    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 4> optStatMode{};
    QComboBox* cmbRecords = nullptr;
    QLabel* Label1 = nullptr;
    QCheckBox* chkResize = nullptr;
    QPushButton* cmdQuery = nullptr;
    std::array<QFrame*, 3> Line2{};
    QFrame* Line1 = nullptr;
    StatsGrid* MSFlexGrid1 = nullptr;
    QPushButton* cmdButton = nullptr;
    QTimer* timerStats = nullptr;

    int QueryTicks = 0;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildFrame();
    QFrame* makeLine(const char* name, int x1, int y1, int x2, int y2);
    void showReply(QString reply);
    // Whether more of a statistics reply has arrived since the last tick (or the query).
    bool replyGrew();

    OuterSize* m_outerSize = nullptr;
    QMetaObject::Connection m_watch;
    bool m_watching = false;
    qsizetype m_arrived = 0; // of a statistics reply still being put together
    // What the last query asked for: a reply of that kind shows no more records than
    // that, any other no more than the grid takes.
    protocol::StatsKind m_askedKind = protocol::StatsKind::Other;
    int m_askedRecords = statslayout::MaxRecords;
};

FrmStatistics* frmStatistics();

// The main window's statistics command: enables the connection watch (loading the
// window when needed), then shows the window, not modal, or brings it forward.
void showStatistics();
