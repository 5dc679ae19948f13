#include "shell/programicon.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor GradientStart(1, 196, 254);
const QColor GradientEnd(14, 146, 235);
const QColor Border(8, 92, 160);

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
        const qreal inset = side / 32.0;
        const QRectF tile = box.adjusted(inset, inset, -inset, -inset);
        QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
        gradient.setColorAt(0.0, GradientStart);
        gradient.setColorAt(1.0, GradientEnd);
        painter->setPen(QPen(Border, qMax(1.0, side / 32.0)));
        painter->setBrush(gradient);
        painter->drawRoundedRect(tile, side * 0.2, side * 0.2);

        // The "Q": a ring with a tail to the lower right.
        const qreal stroke = side * 0.13;
        QPen pen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        const QRectF ring(box.x() + side * 0.22, box.y() + side * 0.2, side * 0.5, side * 0.5);
        painter->drawEllipse(ring);
        painter->drawLine(QPointF(box.x() + side * 0.56, box.y() + side * 0.58),
                          QPointF(box.x() + side * 0.76, box.y() + side * 0.78));

        // Two small arcs beside the tail: the call coming in.
        if (side >= 20) {
            pen.setWidthF(qMax(1.0, side * 0.05));
            painter->setPen(pen);
            const QPointF centre(box.x() + side * 0.76, box.y() + side * 0.78);
            for (const qreal radius : {side * 0.1, side * 0.16}) {
                const QRectF arc(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
                painter->drawArc(arc, 20 * 16, 50 * 16);
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

QIcon themedProgramIcon()
{
    return QIcon::fromTheme(QStringLiteral("quillora-client"), programIcon());
}
