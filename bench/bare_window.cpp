// The baseline window: an empty Qt Widgets window the size of zentrava's and nothing else.
// --clock adds what zentrava's idle window must keep, a label set once a minute on the minute.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTime>
#include <QTimer>

#include <cstring>

namespace {
// zentrava's top level at 96 dpi under Xvfb, status bar included (src/app/form1.cpp).
constexpr int kWidth = 528;
constexpr int kHeight = 235;
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(kWidth, kHeight);
    QLabel clock(&window);
    QTimer tick;
    if (argc > 1 && std::strcmp(argv[1], "--clock") == 0) {
        // Timed like zentrava's clock, so both wake on the same minute for the same reason.
        tick.setSingleShot(true);
        tick.setTimerType(Qt::PreciseTimer);
        auto update = [&] {
            const QTime now = QTime::currentTime();
            clock.setText(now.toString(QStringLiteral("HH:mm")));
            tick.start(60000 - (now.second() * 1000 + now.msec()) + 20);
        };
        QObject::connect(&tick, &QTimer::timeout, &app, update);
        update();
    }
    window.show();
    return app.exec();
}
