// Baseline for the start-up benchmark: an empty Qt Widgets window the size of zentrava's, and
// nothing else. Started by build/release/bench/zentrava-bench-startup, or by hand [--list-ports].
#include <QApplication>
#include <QMainWindow>
#include <QSerialPortInfo>

#include <cstring>

namespace {
// zentrava's top level at 96 dpi, as xwininfo shows it under Xvfb: 7920 twips wide, 3240 twips
// of client area plus the 19-pixel status bar (src/app/form1.cpp, createStatusBar).
constexpr int kWidth = 528;
constexpr int kHeight = 235;
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Shows what Qt's own port listing costs, apart from anything zentrava does with the list.
    if (argc > 1 && std::strcmp(argv[1], "--list-ports") == 0) {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        Q_UNUSED(ports);
    }
    QMainWindow window;
    window.resize(kWidth, kHeight);
    window.show();
    return app.exec();
}
