#pragma once

#include <QString>

// The product's web addresses.
namespace site {

inline const QString Host = QStringLiteral("https://www.quillora.net");

// The product site: shown in the About text and the server-version messages.
inline QString productSite()
{
    return Host + QStringLiteral("/Quillora");
}

// The homepage opened by the Help menu.
inline QString homepage()
{
    return Host + QStringLiteral("/Quillora/index.asp");
}

} // namespace site
