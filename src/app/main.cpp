#include "app/form1.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // One look everywhere, so the window's colours read the same on every desktop.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    zentrava::Form1 window(zentrava::PortMap::system());
    window.show();
    return app.exec();
}
