#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <array>

// The settings dialog: shows the nine stored settings, and writes all of them on "Ok".
// Modeless; one window for the whole program. It is the only writer of the store.
class FrmSettings final : public QWidget {
    Q_OBJECT
public:
    static constexpr int WidthTwips = 4380;
    static constexpr int HeightTwips = 5520;
    // A password must be longer than this; an empty one means no password.
    static constexpr int LongestRefusedPassword = 8;

    FrmSettings();
    ~FrmSettings() override;

    // Load: fills the controls from the store, with the defaults for empty values.
    void Form_Load();

    // 1 and 3 enable the box of their row when ticked and disable it when not.
    void chkDebug_Click(int Index);
    // 0 "Cancel" closes; 1 "Ok" checks the password, saves, and closes.
    void cmdButton_Click(int Index);

    // txtDebug: 0 port, 1 host, 2 pop-up seconds, 3 password, 4 reconnect attempts.
    std::array<QLineEdit*, 5> txtDebug{};
    // chkDebug: 0 auto-connect, 1 auto-close pop-up, 2 start minimised, 3 reconnect, 4 TLS,
    // 5 desktop notification, 6 ring sound, 7 start at login.
    std::array<QCheckBox*, 8> chkDebug{};
    std::array<QLabel*, 13> lblInfo{};
    // cmdButton: 0 "Cancel", 1 "Ok".
    std::array<QPushButton*, 2> cmdButton{};
    QLabel* lblInformation = nullptr;
    QLabel* lblNote = nullptr;
    bool m_tlsToggled = false; // "Use TLS" changed in this visit

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    // Writes the keys in order; false as soon as one write fails.
    bool saveSettings();
};

FrmSettings* frmSettings();
