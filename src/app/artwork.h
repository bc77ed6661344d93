#pragma once

#include <QIcon>
#include <QPixmap>

namespace zentrava {

// The logo and the application icon are drawn, so the project ships no image files.
QPixmap drawLogo(const QSize& size, qreal devicePixelRatio = 1.0);
QIcon applicationIcon();

} // namespace zentrava
