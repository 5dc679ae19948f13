#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The About window: the main window's caption as its title, a line about the client
// and the product site's address. "Ok" unloads it.
class FrmAbout final : public QWidget {
    Q_OBJECT
public:
    FrmAbout();
    ~FrmAbout() override;

    // Load: the title from the main window's current caption, then the information text.
    void Form_Load();

    // "Ok".
    void Command1_Click();

    // The label's information text: a line about the client, an empty line, then
    // an empty line and "Please visit " with the product site's address.
    static QString informationText();

    QGroupBox* Frame1 = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblInfo = nullptr;
    QPushButton* Command1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
};

FrmAbout* frmAbout();
