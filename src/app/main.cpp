#include "app/command_line.h"
#include "app/form1.h"
#include "core/port_source.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QCommandLineParser parser;
    zentrava::describeProgram(
        parser, "zentrava", ZENTRAVA_VERSION,
        QStringLiteral(
            "Reads and writes the settings of a KT7720 868 MHz radio module on a serial port.\n"
            "Pick a port in the window's list (COM1 to COM16, each one of this computer's serial\n"
            "devices), press Open, then Read or Write any setting. The window takes no options of\n"
            "its own beyond these; Qt's usual ones (-platform, -style) still apply."));
    zentrava::answerWithoutDisplay(parser, argc, argv);
    // Listing the ports takes as long as starting Qt; do both at once.
    zentrava::SystemPortSource::startEarlyListing();

    QApplication app(argc, argv);
    zentrava::readCommandLine(parser);
    // Lets a Wayland desktop find the menu entry, and with it the icon, for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZENTRAVA_APP_ID));
    // One look everywhere, so the window's colours read the same on every desktop.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    zentrava::Form1 window;
    window.show();
    return app.exec();
}
