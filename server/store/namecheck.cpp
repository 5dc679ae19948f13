#include "namecheck.h"

#include "serverlog.h"

namespace namecheck {

namespace {

constexpr qsizetype LongestLoggedName = 80;

} // namespace

void logNoMatchNames(ContactStore& contacts)
{
    for (const Contact& c : contacts.withNoMatchNames()) {
        const QString name = c.name.size() > LongestLoggedName
                                 ? c.name.left(LongestLoggedName) + QStringLiteral("...")
                                 : c.name;
        serverlog::write(QStringLiteral("Contact %1 \"%2\" cannot be shown by clients: its name "
                                        "begins with \"%3\". Please rename it.")
                             .arg(QString::number(c.id), name, NoMatchWord));
    }
}

} // namespace namecheck
