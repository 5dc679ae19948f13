#include "popup/callactions.h"

#include "contacts/frmcontacts.h"
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QClipboard>
#include <QGuiApplication>

namespace callactions {

namespace {

constexpr int HomePhoneOption = 2;

// Detail index of the pop-up -> search option of the same field.
constexpr std::array<std::pair<int, int>, 4> PhoneFields{{{1, 2}, {2, 3}, {3, 5}, {4, 6}}};

} // namespace

bool hasNumber(const QString& shown)
{
    return !shown.trimmed().isEmpty() && shown != QLatin1String("Unknown");
}

int searchOptionFor(const QString& number, const std::array<QString, 6>& details)
{
    for (const auto& [detail, option] : PhoneFields)
        if (details[detail].trimmed() == number.trimmed())
            return option;
    return HomePhoneOption;
}

void copyNumber(const QString& number)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(number);
}

void findInContacts(const QString& number, int option)
{
    const FrmMain* main = forms::loadedOrNull<FrmMain>();
    if (!main || !main->sckConnect().isConnected())
        return;
    openContactsWindow();
    FrmContacts* contacts = forms::loadedOrNull<FrmContacts>();
    if (!contacts || option < 0 || option >= contacts::SearchFieldCount)
        return;
    contacts->optSearch[option]->setChecked(true);
    contacts->txtSearch->setText(number);
    contacts->cmdSearch_Click();
}

} // namespace callactions
