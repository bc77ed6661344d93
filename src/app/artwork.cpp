#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <QtMath>

#include <cmath>

namespace zentrava {

namespace {
const QColor kTopLeft(0x1f, 0x5f, 0xa8);
const QColor kBottomRight(0x0c, 0x2d, 0x57);
const QColor kWaves(0xc0, 0xff, 0xc0);

// An antenna mast with three arcs of radio waves on a rounded square, in the area's units.
struct Mark {
    QRectF area;
    qreal radius;
    qreal unit;
    QPointF mast;
    qreal mastLength;
    static constexpr int kWaves = 3;
    static constexpr int kWaveStartDegrees = 30;
    static constexpr int kWaveSpanDegrees = 120;

    Mark(const QRectF& a, bool withText)
        : area(a), radius(a.width() * 0.16), unit(a.width() / 78.0),
          mast(a.center().x(), a.top() + (withText ? 30 : 36) * unit),
          mastLength((withText ? 14 : 30) * unit) {}

    qreal waveRadius(int i) const { return 7.5 * unit * i; }
    qreal wavePen() const { return 3.2 * unit; }
    qreal mastPen() const { return 3.6 * unit; }
    qreal dotRadius() const { return 3.4 * unit; }
};

void paintMark(QPainter& painter, const QRectF& area, bool withText) {
    const Mark mark(area, withText);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(area.topLeft(), area.bottomRight());
    background.setColorAt(0.0, kTopLeft);
    background.setColorAt(1.0, kBottomRight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(area, mark.radius, mark.radius);

    painter.setPen(QPen(kWaves, mark.wavePen(), Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    for (int i = 1; i <= Mark::kWaves; ++i) {
        const qreal r = mark.waveRadius(i);
        const QRectF arc(mark.mast.x() - r, mark.mast.y() - r, 2 * r, 2 * r);
        painter.drawArc(arc, Mark::kWaveStartDegrees * 16, Mark::kWaveSpanDegrees * 16);
    }
    painter.setPen(QPen(Qt::white, mark.mastPen(), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(mark.mast, mark.mast + QPointF(0, mark.mastLength));
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(mark.mast, mark.dotRadius(), mark.dotRadius());

    if (withText) {
        const qreal unit = mark.unit;
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(int(14 * unit));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(area.left(), area.top() + 50 * unit, area.width(), 22 * unit),
                         Qt::AlignCenter, QStringLiteral("KT7720"));
    }
}

QString number(qreal value) {
    return QString::number(value, 'f', 2);
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

QImage drawIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintMark(painter, QRectF(0, 0, side, side), false);
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    // No 256: drawing it and handing it to the window system cost more than the rest together,
    // and an installed desktop takes its large icon from the icon theme.
    for (int side : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(drawIcon(side)));
    return icon;
}

QByteArray iconSvg() {
    const int side = 256;
    const Mark mark(QRectF(0, 0, side, side), false);
    QString svg =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                       "viewBox=\"0 0 %1 %1\">\n"
                       "  <defs>\n"
                       "    <linearGradient id=\"background\" gradientUnits=\"userSpaceOnUse\" "
                       "x1=\"0\" y1=\"0\" x2=\"%1\" y2=\"%1\">\n"
                       "      <stop offset=\"0\" stop-color=\"%2\"/>\n"
                       "      <stop offset=\"1\" stop-color=\"%3\"/>\n"
                       "    </linearGradient>\n"
                       "  </defs>\n"
                       "  <rect width=\"%1\" height=\"%1\" rx=\"%4\" fill=\"url(#background)\"/>\n")
            .arg(QString::number(side), kTopLeft.name(), kBottomRight.name(), number(mark.radius));
    // Qt counts arc angles counter-clockwise on screen: SVG's sweep flag 0.
    const qreal start = qDegreesToRadians(qreal(Mark::kWaveStartDegrees));
    const qreal end = qDegreesToRadians(qreal(Mark::kWaveStartDegrees + Mark::kWaveSpanDegrees));
    svg += QStringLiteral("  <g fill=\"none\" stroke=\"%1\" stroke-width=\"%2\" "
                          "stroke-linecap=\"round\">\n")
               .arg(kWaves.name(), number(mark.wavePen()));
    for (int i = 1; i <= Mark::kWaves; ++i) {
        const qreal r = mark.waveRadius(i);
        svg += QStringLiteral("    <path d=\"M %1 %2 A %3 %3 0 0 0 %4 %5\"/>\n")
                   .arg(number(mark.mast.x() + r * std::cos(start)),
                        number(mark.mast.y() - r * std::sin(start)), number(r),
                        number(mark.mast.x() + r * std::cos(end)),
                        number(mark.mast.y() - r * std::sin(end)));
    }
    svg += QStringLiteral("  </g>\n");
    svg += QStringLiteral("  <line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\" stroke=\"#ffffff\" "
                          "stroke-width=\"%4\" stroke-linecap=\"round\"/>\n")
               .arg(number(mark.mast.x()), number(mark.mast.y()),
                    number(mark.mast.y() + mark.mastLength), number(mark.mastPen()));
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"#ffffff\"/>\n")
               .arg(number(mark.mast.x()), number(mark.mast.y()), number(mark.dotRadius()));
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace zentrava
