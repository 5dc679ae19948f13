#include "shell/fonts.h"

#include <QStringList>

namespace {

const QString DesignFamily = QStringLiteral("MS Sans Serif");
const QString FixedFamily = QStringLiteral("Courier New");

void registerSubstitutes()
{
    static const bool done = [] {
        QFont::insertSubstitutions(DesignFamily,
                                   {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                    QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica"),
                                    QStringLiteral("DejaVu Sans")});
        QFont::insertSubstitutions(FixedFamily, {QStringLiteral("Liberation Mono"),
                                                 QStringLiteral("DejaVu Sans Mono"),
                                                 QStringLiteral("Monospace")});
        return true;
    }();
    Q_UNUSED(done)
}

} // namespace

QFont designFont(qreal pointSize, bool bold)
{
    registerSubstitutes();
    QFont font(DesignFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont fixedPitchFont(qreal pointSize)
{
    registerSubstitutes();
    QFont font(FixedFamily);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    return font;
}
