// Click to "Success!" in the window vs minimal QSerialPort and termios clients, and vs wire time.
// Run from an optimised build: build/release/bench/zentrava-bench-exchange [--rounds N | --smoke]
#include "bench_stats.h"
#include "line_module.h"
#include "window_driver.h"

#include "app/form1.h"
#include "core/command_frame.h"
#include "core/serial_link.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QStyleFactory>
#include <QTest>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace zentrava;
using namespace zentrava::bench;

namespace {

constexpr int kGuardMs = 2000;
// Lets the window, the clients and the module's thread settle between rounds.
constexpr int kRestMs = 20;

double toMs(std::int64_t ns) {
    return double(ns) / 1e6;
}

// One timed exchange. Stamps are CLOCK_MONOTONIC; the module's are taken from its own record.
struct Round {
    double ms = 0;    // release of the click (or write) to "Success!" (or the last reply byte read)
    double outMs = 0; // click (or write) to the request's first byte at the module
    double tailMs = 0;             // the module's last reply byte to the end of the round
    double paintMs = std::nan(""); // click to the status panel's repaint; windows only
    double moduleLateMs = 0;       // the module's last byte against its deadline
};

Round fromModule(std::int64_t startNs, std::int64_t endNs, const LineModule::Exchange& e) {
    Round r;
    r.ms = toMs(endNs - startNs);
    r.outMs = toMs(e.firstByteNs - startNs);
    r.tailMs = toMs(endNs - e.lastReplyNs);
    r.moduleLateMs = toMs(e.lateNs);
    return r;
}

// One Read in the window, checked against the module's own record of it.
Round windowRound(WindowDriver& window, LineModule& module, const char* name, bool rest) {
    const std::uint64_t served = module.served();
    const WindowDriver::Click click = window.click(name);
    if (!module.waitServed(served + 1, kGuardMs))
        fail("the module has no record of the exchange");
    Round r = fromModule(click.releaseNs, click.shownNs, module.lastExchange());
    if (click.paintedNs != 0)
        r.paintMs = toMs(click.paintedNs - click.releaseNs);
    if (rest)
        QTest::qWait(kRestMs);
    else
        QCoreApplication::processEvents();
    return r;
}

// A client program on its own line module, one exchange per line it is sent.
class ClientDriver {
public:
    ClientDriver(const QString& program, CommandCode code, const QString& label)
        : m_label(label.toStdString()) {
        std::string error;
        if (!m_module.open(&error))
            fail("no pseudo-terminal: " + error);
        const QByteArray frame = buildCommandFrame(code);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program,
                        {QString::fromStdString(m_module.devicePath()),
                         QString::fromLatin1(frame.toHex()), QString::number(frame.size())});
        if (!m_process.waitForStarted(5000))
            fail(m_label + ": does not start: " + m_process.errorString().toStdString());
        if (readLine() != "ready")
            fail(m_label + ": not ready");
    }

    ~ClientDriver() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    LineModule& module() { return m_module; }

    Round exchange(bool rest) {
        const std::uint64_t served = m_module.served();
        m_process.write("x\n");
        const std::string line = readLine();
        long long stamp = 0;
        long long elapsed = 0;
        if (std::sscanf(line.c_str(), "%lld %lld", &stamp, &elapsed) != 2)
            fail(m_label + ": " + line);
        if (!m_module.waitServed(served + 1, kGuardMs))
            fail(m_label + ": the module has no record of the exchange");
        const Round r = fromModule(stamp, stamp + elapsed, m_module.lastExchange());
        if (rest)
            QThread::msleep(kRestMs);
        return r;
    }

private:
    std::string readLine() {
        QElapsedTimer waited;
        waited.start();
        while (!m_process.canReadLine()) {
            if (waited.elapsed() > 5000 || !m_process.waitForReadyRead(5000))
                fail(m_label + ": no answer");
        }
        return m_process.readLine().trimmed().toStdString();
    }

    std::string m_label;
    LineModule m_module;
    QProcess m_process;
};

// The rounds of each side, by name.
using Series = std::map<std::string, std::vector<Round>>;

std::vector<double> field(const std::vector<Round>& rounds, double Round::*member) {
    std::vector<double> out;
    for (const Round& r : rounds) {
        if (!std::isnan(r.*member))
            out.push_back(r.*member);
    }
    return out;
}

std::string ms(const std::vector<Round>& rounds, double Round::*member = &Round::ms,
               int decimals = 3) {
    return describe(spread(field(rounds, member)), decimals) + " ms";
}

std::string ratioText(const Spread& s) {
    return describe(s, 3) + "x";
}

std::vector<double> over(const std::vector<Round>& rounds, double baselineMs) {
    std::vector<double> out;
    for (const Round& r : rounds)
        out.push_back(r.ms / baselineMs);
    return out;
}

void runImmediate(WindowDriver& window, LineModule& windowModule, ClientDriver& qt,
                  ClientDriver& raw, int rounds, bool rest) {
    windowModule.setPace(LineModule::Pace::Immediate);
    qt.module().setPace(LineModule::Pace::Immediate);
    raw.module().setPace(LineModule::Pace::Immediate);
    Series s;
    for (int round = 0; round < rounds; ++round) {
        // The three take turns leading, so none always runs on a warmer machine.
        for (int i = 0; i < 3; ++i) {
            switch ((i + round) % 3) {
            case 0:
                s["window"].push_back(windowRound(window, windowModule, "Command1", rest));
                break;
            case 1:
                s["qt"].push_back(qt.exchange(rest));
                break;
            default:
                s["raw"].push_back(raw.exchange(rest));
                break;
            }
        }
    }
    const Spread ratio = spread(ratios(field(s["window"], &Round::ms), field(s["qt"], &Round::ms)));
    printResult("2a",
                "click to Success! vs minimal QSerialPort client, 13+13 bytes, module at once",
                ratio, "<= 1.5x", ratio.median <= 1.5);
    printDetail("2a", "window click to Success!: " + ms(s["window"]) +
                          "; QSerialPort client write to last byte: " + ms(s["qt"]) +
                          "; termios client (floor): " + ms(s["raw"]));
    printDetail(
        "2a",
        "window vs termios floor: " +
            ratioText(spread(ratios(field(s["window"], &Round::ms), field(s["raw"], &Round::ms)))) +
            "; QSerialPort vs termios: " +
            ratioText(spread(ratios(field(s["qt"], &Round::ms), field(s["raw"], &Round::ms)))));
    printDetail("2a", "to the request's first byte at the module: window (from the click) " +
                          ms(s["window"], &Round::outMs) + ", QSerialPort (from write) " +
                          ms(s["qt"], &Round::outMs) + ", termios " + ms(s["raw"], &Round::outMs));
    printDetail("2a", "module's last reply byte to done: window (to Success!) " +
                          ms(s["window"], &Round::tailMs) + ", QSerialPort " +
                          ms(s["qt"], &Round::tailMs) + ", termios " +
                          ms(s["raw"], &Round::tailMs));
    printDetail("2a",
                "window click to the status panel's repaint: " + ms(s["window"], &Round::paintMs));
}

void runPaced(WindowDriver& window, LineModule& windowModule,
              std::map<int, std::unique_ptr<ClientDriver>>& qt,
              std::map<int, std::unique_ptr<ClientDriver>>& raw, int rounds, bool rest) {
    windowModule.setPace(LineModule::Pace::Wire);
    for (auto* clients : {&qt, &raw}) {
        for (auto& [length, client] : *clients)
            client->module().setPace(LineModule::Pace::Wire);
    }
    std::map<int, Series> s;
    const int lengths[] = {13, 15};
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 6; ++i) {
            const int which = (i + round) % 6;
            const int length = lengths[which % 2];
            switch (which / 2) {
            case 0:
                s[length]["window"].push_back(windowRound(
                    window, windowModule, length == 13 ? "Command1" : "readchannel", rest));
                break;
            case 1:
                s[length]["raw"].push_back(raw[length]->exchange(rest));
                break;
            default:
                s[length]["qt"].push_back(qt[length]->exchange(rest));
                break;
            }
        }
    }
    for (const int length : lengths) {
        Series& series = s[length];
        const double wireMs = toMs(wireNs(2 * length));
        const std::string frame = std::to_string(length) + "+" + std::to_string(length);
        const std::string what = length == 13 ? "channel read" : "frequency read";
        char wireText[32];
        std::snprintf(wireText, sizeof wireText, "%.3f ms", wireMs);
        const Spread ratio = spread(over(series["window"], wireMs));
        printResult("2b",
                    "click to Success! vs wire time, " + frame + " bytes at 9600 8N1 (" + what +
                        ", " + wireText + ")",
                    ratio, "<= 1.01x", ratio.median <= 1.01);
        printDetail("2b", frame + " bytes: window click to Success! " + ms(series["window"]) +
                              " against " + wireText + " on the wire; termios client " +
                              ms(series["raw"]) + "; QSerialPort client " + ms(series["qt"]));
        printDetail("2b", frame + " bytes: window over the termios client of the same round " +
                              ratioText(spread(ratios(field(series["window"], &Round::ms),
                                                      field(series["raw"], &Round::ms)))));
        printDetail("2b", frame + " bytes, the yardstick: termios client over wire time " +
                              ratioText(spread(over(series["raw"], wireMs))) +
                              "; module's last byte late by " +
                              ms(series["raw"], &Round::moduleLateMs) +
                              "; QSerialPort client over wire time " +
                              ratioText(spread(over(series["qt"], wireMs))));
        printDetail("2b", frame + " bytes, to the request's first byte at the module: window " +
                              "(from the click) " + ms(series["window"], &Round::outMs) +
                              ", termios (from write) " + ms(series["raw"], &Round::outMs) +
                              "; last reply byte to done: window " +
                              ms(series["window"], &Round::tailMs) + ", termios " +
                              ms(series["raw"], &Round::tailMs) + ", QSerialPort " +
                              ms(series["qt"], &Round::tailMs));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    // The look the program itself sets.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("One round of each, no rests, to see it runs."));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds per side (default 30)."),
                                          QStringLiteral("N"), QStringLiteral("30"));
    parser.addOptions({smoke, roundsOption});
    parser.process(app);
    const bool isSmoke = parser.isSet(smoke);
    const int rounds = isSmoke ? 1 : std::max(1, parser.value(roundsOption).toInt());

    LineModule windowModule;
    std::string error;
    if (!windowModule.open(&error))
        fail("no pseudo-terminal: " + error);
    WindowDriver window(windowModule);
    window.open();

    const QString qtProgram = QStringLiteral(QSERIALPORT_CLIENT_PATH);
    const QString rawProgram = QStringLiteral(TERMIOS_CLIENT_PATH);
    std::map<int, std::unique_ptr<ClientDriver>> qt;
    std::map<int, std::unique_ptr<ClientDriver>> raw;
    for (const auto& [length, code] :
         {std::pair{13, command::kReadChannel}, std::pair{15, command::kReadFrequency}}) {
        const QString suffix = QStringLiteral(" (%1 bytes)").arg(length);
        qt[length] =
            std::make_unique<ClientDriver>(qtProgram, code, QStringLiteral("QSerialPort") + suffix);
        raw[length] =
            std::make_unique<ClientDriver>(rawProgram, code, QStringLiteral("termios") + suffix);
    }

    std::printf("window on %s, platform %s, %d round%s per side\n",
                windowModule.devicePath().c_str(), qPrintable(QGuiApplication::platformName()),
                rounds, rounds == 1 ? "" : "s");
    printDetail("2a", "platform " + QGuiApplication::platformName().toStdString() + ", " +
                          std::to_string(rounds) + " rounds, alternating window / QSerialPort / " +
                          "termios; every figure median (p25..p75; n)");
    printDetail("2b", std::string("module thread ") +
                          (windowModule.realTime() ? "real-time (SCHED_FIFO)"
                                                   : "ordinary (no SCHED_FIFO allowed)") +
                          "; reply bytes written 1.0417 ms apart on absolute deadlines, the "
                          "request's first byte read at the module counting as written");
    // A first exchange each, untimed: the first click pays for fonts, styles and page faults.
    windowRound(window, windowModule, "Command1", false);
    windowRound(window, windowModule, "readchannel", false);
    qt[13]->exchange(false);
    raw[13]->exchange(false);
    runImmediate(window, windowModule, *qt[13], *raw[13], rounds, !isSmoke);
    runPaced(window, windowModule, qt, raw, rounds, !isSmoke);
    return 0;
}
