// quillora-iconart OUTDIR: writes the program's icon into an icon theme tree below OUTDIR
// (hicolor/NxN/apps/quillora-client.png for each size, hicolor/scalable/apps/...svg) and
// as the Windows icon OUTDIR/quillora-client.ico, drawn by the same code that draws the
// built-in icon.

#include "shell/programicon.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

namespace {

// A Windows icon file holding the sizes as PNG images, the form Windows has read since
// Vista: a header, one directory entry per image, then the images.
QByteArray icoFile(const QList<QImage>& images)
{
    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        image.save(&png, "PNG");
        pngs.append(png.data());
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        const int side = images[i].width();
        out << quint8(side >= 256 ? 0 : side) << quint8(side >= 256 ? 0 : side) << quint8(0)
            << quint8(0) << quint16(1) << quint16(32) << quint32(pngs[i].size()) << offset;
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        out.writeRawData(png.constData(), int(png.size()));
    return ico;
}

} // namespace

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
    QList<QImage> icoImages;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = out.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(side));
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            icon.paint(&painter, image.rect());
        }
        if (side != 22 && side != 128)
            icoImages.append(image);
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
    QFile ico(out.filePath(QStringLiteral("quillora-client.ico")));
    if (!ico.open(QIODevice::WriteOnly) || ico.write(icoFile(icoImages)) < 0) {
        err << "quillora-iconart: cannot write " << ico.fileName() << Qt::endl;
        return 1;
    }
    return 0;
}
