// Writes the application icon into an icon theme tree at build time: a PNG for each size given
// and an SVG, all from the window's own artwork.
#include "app/artwork.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>

// No application object: the icon holds no text, and a QImage paints without any platform.
int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: zentrava-icon THEME-DIR ICON-NAME SIZE...\n");
        return 2;
    }
    const QDir theme(arguments[1]);
    const QString name = arguments[2];
    for (const QString& size : arguments.mid(3)) {
        const int side = size.toInt();
        const QString dir = QStringLiteral("%1x%1/apps").arg(side);
        const QString path = theme.filePath(dir + QLatin1Char('/') + name + ".png");
        if (side <= 0 || !theme.mkpath(dir) || !zentrava::drawIcon(side).save(path, "PNG")) {
            std::fprintf(stderr, "zentrava-icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    QFile svg(theme.filePath(QStringLiteral("scalable/apps/") + name + ".svg"));
    if (!theme.mkpath(QStringLiteral("scalable/apps")) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(zentrava::iconSvg()) < 0) {
        std::fprintf(stderr, "zentrava-icon: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}
