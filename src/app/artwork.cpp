#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace zentrava {

namespace {
void paintMark(QPainter& painter, const QRectF& area, bool withText) {
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(area.topLeft(), area.bottomRight());
    background.setColorAt(0.0, QColor(0x1f, 0x5f, 0xa8));
    background.setColorAt(1.0, QColor(0x0c, 0x2d, 0x57));
    const qreal radius = area.width() * 0.16;
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(area, radius, radius);

    // An antenna mast with three arcs of radio waves.
    const qreal unit = area.width() / 78.0;
    const QPointF mast(area.center().x(), area.top() + (withText ? 30 : 36) * unit);
    QPen wavePen(QColor(0xc0, 0xff, 0xc0), 3.2 * unit, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(wavePen);
    painter.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal r = 7.5 * unit * i;
        const QRectF arc(mast.x() - r, mast.y() - r, 2 * r, 2 * r);
        painter.drawArc(arc, 30 * 16, 120 * 16);
    }
    painter.setPen(QPen(Qt::white, 3.6 * unit, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(mast, QPointF(mast.x(), mast.y() + (withText ? 14 : 30) * unit));
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(mast, 3.4 * unit, 3.4 * unit);

    if (withText) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(int(14 * unit));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(area.left(), area.top() + 50 * unit, area.width(), 22 * unit),
                         Qt::AlignCenter, QStringLiteral("KT7720"));
    }
}
} // namespace

QPixmap drawLogo(const QSize& size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintMark(painter, QRectF(QPointF(0, 0), QSizeF(size)), true);
    return pixmap;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintMark(painter, QRectF(0, 0, side, side), false);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace zentrava
