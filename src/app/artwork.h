#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace zentrava {

// The logo and the application icon are drawn, so the project ships no image files.
QPixmap drawLogo(const QSize& size, qreal devicePixelRatio = 1.0);
QIcon applicationIcon();
// The icon at one size, as the desktop's icon theme takes it.
QImage drawIcon(int side);
// The same icon as SVG text, from the same geometry.
QByteArray iconSvg();

} // namespace zentrava
