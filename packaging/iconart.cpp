// quillora-iconart OUTDIR: writes the program's icon into an icon theme tree below OUTDIR
// (hicolor/NxN/apps/quillora-client.png for each size, hicolor/scalable/apps/...svg),
// drawn by the same code that draws the built-in icon.

#include "shell/programicon.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

int main(int argc, char* argv[])
{
    // Painting into images needs no application object and no screen.
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: quillora-iconart OUTDIR" << Qt::endl;
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QIcon icon = programIcon();
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = out.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(side));
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
        }
        const QString file = folder + QStringLiteral("/quillora-client.png");
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            err << "quillora-iconart: cannot write " << file << Qt::endl;
            return 1;
        }
    }
    const QString folder = out.filePath(QStringLiteral("hicolor/scalable/apps"));
    QFile svg(folder + QStringLiteral("/quillora-client.svg"));
    if (!QDir().mkpath(folder) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(programIconSvg().toUtf8()) < 0) {
        err << "quillora-iconart: cannot write " << svg.fileName() << Qt::endl;
        return 1;
    }
    return 0;
}
