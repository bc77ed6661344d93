// The real window with an emulated module on a pseudo-terminal mapped as COM1, or with COM1
// mapped to a device of the user's choice.
#include "app/command_line.h"
#include "app/form1.h"
#include "emulator/pty_host.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace zentrava;

namespace {

// Opens the port, reads every setting, then saves the window as a PNG: the README's picture.
class ScreenshotTour : public QObject {
public:
    ScreenshotTour(Form1& window, QString path) : m_window(window), m_path(std::move(path)) {}

    void start() {
        click("comopen");
        QTimer::singleShot(100, this, [this] { next(); });
    }

private:
    void click(const char* name) {
        if (auto* button = m_window.findChild<QPushButton*>(QLatin1String(name)))
            button->click();
    }

    void next() {
        static constexpr const char* kReads[] = {"readchannel", "readdatarate", "Command1",
                                                 "readid",      "Command3",     "readserial"};
        if (m_window.panelText(2) == QLatin1String(".....")) {
            QTimer::singleShot(20, this, [this] { next(); });
            return;
        }
        if (m_step < int(std::size(kReads))) {
            click(kReads[m_step++]);
            QTimer::singleShot(20, this, [this] { next(); });
            return;
        }
        const bool saved = m_window.grab().save(m_path);
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save",
                     qPrintable(m_path));
        QApplication::exit(saved ? 0 : 1);
    }

    Form1& m_window;
    QString m_path;
    int m_step = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QCommandLineParser parser;
    describeProgram(
        parser, "zentrava-demo", ZENTRAVA_VERSION,
        QStringLiteral(
            "Zentrava with an emulated KT7720 module: a bench tool for trying the window, and\n"
            "everything it shows, without a module or adapter.\n\n"
            "Without options the module is emulated in this process on a pseudo-terminal that the\n"
            "window lists as COM1: press Open, then Read or Write any setting.\n"
            "With --device, COM1 is that device instead: a kt7720-emu started in another terminal\n"
            "(give the path it prints) or a real module on a USB serial adapter."));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Map COM1 to <path> instead of the "
                                                         "emulated module."),
                                          QStringLiteral("path"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("Let the emulated module misbehave: MODE or MODE:N as kt7720-emu --help "
                       "tells (%1).")
            .arg(emu::ModuleModel::faultNames().join(QStringLiteral(", "))),
        QStringLiteral("mode"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Open COM1, read every setting, save the window to <png> and quit."),
        QStringLiteral("png"));
    parser.addOptions({deviceOption, faultOption, screenshotOption});
    const CommandLineCheck check = [&](const QCommandLineParser& parsed) {
        if (parsed.isSet(faultOption) && !emu::ModuleModel::parseFault(parsed.value(faultOption)))
            return QStringLiteral("unknown fault mode %1").arg(parsed.value(faultOption));
        return QString();
    };
    answerWithoutDisplay(parser, argc, argv, check);

    QApplication app(argc, argv);
    readCommandLine(parser, check);
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    PortMap map;
    std::unique_ptr<emu::PtyHost> module;
    if (parser.isSet(deviceOption)) {
        map.set(1, parser.value(deviceOption), QStringLiteral("device given on the command line"));
    } else {
        module = std::make_unique<emu::PtyHost>();
        QString error;
        if (!module->open(&error)) {
            std::fprintf(stderr, "zentrava-demo: no pseudo-terminal for the module: %s\n",
                         qPrintable(error));
            return 1;
        }
        if (parser.isSet(faultOption))
            module->model().setFault(*emu::ModuleModel::parseFault(parser.value(faultOption)));
        map.set(1, module->devicePath(), QStringLiteral("emulated KT7720 module"));
    }

    Form1 window(map);
    window.show();

    std::unique_ptr<ScreenshotTour> tour;
    if (parser.isSet(screenshotOption)) {
        tour = std::make_unique<ScreenshotTour>(window, parser.value(screenshotOption));
        tour->start();
    }
    return app.exec();
}
