#pragma once

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <array>

// The call pop-up: borderless, above all ordinary windows, no task-bar entry, in the
// screen's top-right corner. One window for the whole program; a call that arrives
// while it is open reuses it.
class FrmQuillora final : public QWidget {
    Q_OBJECT
public:
    static constexpr int WidthTwips = 4680;
    static constexpr int HeightTwips = 3930;
    static constexpr int TopTwips = 250;
    static constexpr int RightMarginTwips = 300;

    FrmQuillora();
    ~FrmQuillora() override;

    // Load: topmost, controls fitted, placed, time of call, countdown set-up.
    void Form_Load();

    // Shows the window (not modal) and brings it to the front.
    void showPopUp();

    // One second of the countdown.
    void timerPopUp_Timer();
    // The "X".
    void lblNail_Click();

    // The number shown, with the contact's phone fields, and what to do with it: a right
    // click offers both, Ctrl+C copies it.
    void copyNumber();
    void findInContacts();
    QAction* CopyNumber = nullptr;

    QLabel* lblHeadline = nullptr;
    QLabel* lblNail = nullptr;
    QLabel* lblTimeOfCall = nullptr;
    QLabel* lblNumberCalling = nullptr;
    std::array<QLabel*, 6> lblUserInfo{};
    std::array<QLabel*, 6> lblIncoming{};
    QLabel* lblCount = nullptr;
    QTimer* timerPopUp = nullptr;

    // The countdown timer as the classic control saw it: switched on, and its interval
    // (0 never fires).
    bool timerEnabled() const { return m_timerEnabled; }
    int timerInterval() const { return m_timerInterval; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* makeLabel(const char* name, const QString& text, int left, int top, int width,
                      int height, qreal pointSize, bool bold, Qt::Alignment alignment);
    void fitControls();
    void placeOnScreen();
    void setUpCountdown();
    void setTimer(bool enabled, int interval);
    // The contact details shown: name, home, mobile, work, work fax, e-mail.
    std::array<QString, 6> shownDetails() const;

    bool m_timerEnabled = false;
    int m_timerInterval = 0;
};

FrmQuillora* frmQuillora();
