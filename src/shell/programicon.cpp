#include "shell/programicon.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>

namespace {

const QColor GradientStart(1, 196, 254);
const QColor GradientEnd(14, 146, 235);
const QColor Border(8, 92, 160);

// The artwork, in fractions of the icon's side, shared by the painter below and by the
// scalable copy that the desktop's icon theme gets (programIconSvg()).
constexpr double TileInset = 1.0 / 32; // the tile's margin, and its border's width
constexpr double TileRadius = 0.2;     // the tile's corner radius
constexpr double QStroke = 0.13;       // the width of the "Q"
constexpr double RingLeft = 0.22, RingTop = 0.2, RingSide = 0.5;
constexpr double TailFromX = 0.56, TailFromY = 0.58, TailToX = 0.76, TailToY = 0.78;
constexpr double ArcStroke = 0.05; // the arcs beside the tail, centred on its end
constexpr double ArcRadii[] = {0.1, 0.16};
constexpr int ArcStartDegrees = 20, ArcSpanDegrees = 50;
constexpr int ArcsFromSide = 20; // smaller icons leave the arcs out

class ProgramIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        Q_UNUSED(state)
        const qreal side = qMin(rect.width(), rect.height());
        const QRectF box(rect.x() + (rect.width() - side) / 2.0,
                         rect.y() + (rect.height() - side) / 2.0, side, side);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);

        // The tile.
        const qreal inset = side * TileInset;
        const QRectF tile = box.adjusted(inset, inset, -inset, -inset);
        QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
        gradient.setColorAt(0.0, GradientStart);
        gradient.setColorAt(1.0, GradientEnd);
        painter->setPen(QPen(Border, qMax(1.0, side * TileInset)));
        painter->setBrush(gradient);
        painter->drawRoundedRect(tile, side * TileRadius, side * TileRadius);

        // The "Q": a ring with a tail to the lower right.
        const qreal stroke = side * QStroke;
        QPen pen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        const QRectF ring(box.x() + side * RingLeft, box.y() + side * RingTop, side * RingSide,
                          side * RingSide);
        painter->drawEllipse(ring);
        const QPointF tailEnd(box.x() + side * TailToX, box.y() + side * TailToY);
        painter->drawLine(QPointF(box.x() + side * TailFromX, box.y() + side * TailFromY), tailEnd);

        // Two small arcs beside the tail: the call coming in.
        if (side >= ArcsFromSide) {
            pen.setWidthF(qMax(1.0, side * ArcStroke));
            painter->setPen(pen);
            for (const double fraction : ArcRadii) {
                const qreal radius = side * fraction;
                const QRectF arc(tailEnd.x() - radius, tailEnd.y() - radius, 2 * radius,
                                 2 * radius);
                painter->drawArc(arc, ArcStartDegrees * 16, ArcSpanDegrees * 16);
            }
        }

        if (mode == QIcon::Disabled) {
            painter->setCompositionMode(QPainter::CompositionMode_SourceAtop);
            painter->fillRect(box, QColor(128, 128, 128, 160));
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        Q_UNUSED(mode)
        Q_UNUSED(state)
        return {QSize(16, 16), QSize(22, 22), QSize(24, 24),
                QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine* clone() const override { return new ProgramIconEngine; }

    QString key() const override { return QStringLiteral("QuilloraProgramIcon"); }
};

} // namespace

QIcon programIcon()
{
    return QIcon(new ProgramIconEngine);
}

QString programIconSvg(int side)
{
    const auto n = [side](double fraction) { return QString::number(side * fraction, 'g', 6); };
    const auto colour = [](const QColor& c) { return c.name(QColor::HexRgb); };
    const double inset = TileInset, tileSide = 1 - 2 * TileInset;
    QString svg;
    svg += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                          "viewBox=\"0 0 %1 %1\">\n")
               .arg(side);
    svg +=
        QStringLiteral("  <defs>\n    <linearGradient id=\"tile\" gradientUnits=\"userSpaceOnUse\" "
                       "x1=\"%1\" y1=\"%1\" x2=\"%2\" y2=\"%2\">\n"
                       "      <stop offset=\"0\" stop-color=\"%3\"/>\n"
                       "      <stop offset=\"1\" stop-color=\"%4\"/>\n"
                       "    </linearGradient>\n  </defs>\n")
            .arg(n(inset), n(1 - inset), colour(GradientStart), colour(GradientEnd));
    svg += QStringLiteral("  <rect x=\"%1\" y=\"%1\" width=\"%2\" height=\"%2\" rx=\"%3\" "
                          "fill=\"url(#tile)\" stroke=\"%4\" stroke-width=\"%1\"/>\n")
               .arg(n(inset), n(tileSide), n(TileRadius), colour(Border));
    svg += QStringLiteral("  <g fill=\"none\" stroke=\"#ffffff\" stroke-linecap=\"round\">\n");
    svg += QStringLiteral("    <circle cx=\"%1\" cy=\"%2\" r=\"%3\" stroke-width=\"%4\"/>\n")
               .arg(n(RingLeft + RingSide / 2), n(RingTop + RingSide / 2), n(RingSide / 2),
                    n(QStroke));
    svg +=
        QStringLiteral("    <line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke-width=\"%5\"/>\n")
            .arg(n(TailFromX), n(TailFromY), n(TailToX), n(TailToY), n(QStroke));
    // Angles run counter-clockwise from three o'clock, as the painter's do; y grows
    // downwards, so that is SVG's negative sweep.
    const double from = qDegreesToRadians(double(ArcStartDegrees));
    const double to = qDegreesToRadians(double(ArcStartDegrees + ArcSpanDegrees));
    for (const double r : ArcRadii) {
        svg += QStringLiteral("    <path d=\"M %1 %2 A %3 %3 0 0 0 %4 %5\" stroke-width=\"%6\"/>\n")
                   .arg(n(TailToX + r * std::cos(from)), n(TailToY - r * std::sin(from)), n(r),
                        n(TailToX + r * std::cos(to)), n(TailToY - r * std::sin(to)), n(ArcStroke));
    }
    svg += QStringLiteral("  </g>\n</svg>\n");
    return svg;
}

QIcon themedProgramIcon()
{
    return QIcon::fromTheme(QStringLiteral("quillora-client"), programIcon());
}
