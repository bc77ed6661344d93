// Start-up, protocol and round-trip costs, measured the way an operator meets them.
// Run from an optimised build: build/release/bench/zentrava-bench
#include "app/form1.h"
#include "core/command_frame.h"
#include "core/frequency.h"
#include "core/reply_frame.h"
#include "emulator/pty_host.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStyleFactory>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zentrava;

namespace {

struct Stats {
    double median;
    double p95;
};

Stats summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 95 / 100]};
}

long peakRssKb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1)
            break;
    }
    std::fclose(status);
    return kb;
}

// Window construction and first paint with the 16-port probe over one emulated module.
Stats benchStartup(int runs) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        emu::PtyHost module;
        module.open();
        PortMap map;
        map.set(1, module.devicePath());
        QElapsedTimer timer;
        timer.start();
        Form1 window(map);
        window.show();
        QApplication::processEvents();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    return summarise(samples);
}

// One Read, click to "Success!", over a real pseudo-terminal.
Stats benchRoundTrip(int runs) {
    emu::PtyHost module;
    module.open();
    PortMap map;
    map.set(1, module.devicePath());
    Form1 window(map);
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("comopen"))->click();
    auto* read = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        read->click();
        while (window.panelText(2) == QLatin1String(".....") && timer.elapsed() < 2000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    return summarise(samples);
}

// Frame building, reply checking and the frequency word: the per-request pure work.
double benchProtocolNs(int iterations) {
    QElapsedTimer timer;
    timer.start();
    unsigned sink = 0;
    for (int i = 0; i < iterations; ++i) {
        const double mhz = 855.0 + (i % 20000) * 0.001;
        const FrequencyWord word = encodeFrequency(mhz);
        QByteArray frame = buildCommandFrame(command::kWriteFrequency, frequencyBytes(word));
        frame[5] = 0;
        frame.append('\0');
        sink += replyLayoutValid(frame, command::kWriteFrequency) ? 1u : 0u;
        sink += unsigned(formatFrequency(decodeFrequency(word)).size());
    }
    const double ns = double(timer.nsecsElapsed()) / iterations;
    if (sink == 0)
        std::puts("(unexpected: no frame passed)");
    return ns;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const Stats startup = benchStartup(20);
    std::printf("start-up (window + probe + first paint): median %.1f ms, p95 %.1f ms\n",
                startup.median, startup.p95);
    const Stats roundTrip = benchRoundTrip(200);
    std::printf("read round trip over a pty:             median %.2f ms, p95 %.2f ms\n",
                roundTrip.median, roundTrip.p95);
    std::printf("protocol work per frequency request:    %.0f ns\n", benchProtocolNs(200000));
    std::printf("peak resident memory:                   %ld kB\n", peakRssKb());
    return 0;
}
