// Click to "Success!" in the real window against a minimal QSerialPort client, with the module
// answering at once and at the pace of a 9600 8N1 line; --idle leaves the window open for perf.
// Run by scripts/bench.sh as build/release/bench/zentrava-bench-exchange [--rounds N | --idle]
#include "line_module.h"

#include "app/form1.h"
#include "core/command_frame.h"
#include "core/serial_link.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace zentrava;
using namespace zentrava::bench;

namespace {

constexpr int kGuardMs = 2000;
// Lets the window, the client and the module's thread settle between rounds.
constexpr int kRestMs = 20;

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "zentrava-bench-exchange: %s\n", text.c_str());
    std::exit(1);
}

// Median and quartiles by nearest rank, so a small sample reports values it really saw.
std::string spread(std::vector<double> v, const char* unit = "") {
    if (v.empty())
        return "none";
    std::sort(v.begin(), v.end());
    auto at = [&](std::size_t percent) { return v[(v.size() - 1) * percent / 100]; };
    char text[128];
    std::snprintf(text, sizeof text, "%.3f (%.3f..%.3f; %zu)%s", at(50), at(25), at(75), v.size(),
                  unit);
    return text;
}

// The line scripts/bench.sh turns into a row: RESULT|goal|measure|target|ratios...
void result(const char* goal, const std::string& measure, const char* target,
            const std::vector<double>& ratios) {
    std::printf("RESULT|%s|%s|%s", goal, measure.c_str(), target);
    for (double r : ratios)
        std::printf("|%.5f", r);
    std::printf("\n");
}

void detail(const char* goal, const std::string& text) {
    std::printf("DETAIL|%s|%s\n", goal, text.c_str());
}

std::vector<double> over(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> out;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        out.push_back(a[i] / b[i]);
    return out;
}

// One exchange, from the click's release (or the client's write) to "Success!" (or the last
// reply byte read), split by the module's own stamps.
struct Round {
    Round(std::int64_t startNs, std::int64_t endNs, const LineModule::Exchange& e)
        : ms(double(endNs - startNs) / 1e6), outMs(double(e.firstByteNs - startNs) / 1e6),
          tailMs(double(endNs - e.lastReplyNs) / 1e6) {}
    double ms;
    double outMs;  // to the request's first byte at the module
    double tailMs; // from the module's last reply byte
};

// Any box the window would show is a failed round here, never a wait for an operator.
class FailingMessages final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override {
        fail("the window warned: " + text.toStdString());
    }
};

// The real window with COM1 on a line module, clicked the way an operator clicks it.
class WindowDriver : public QObject {
public:
    explicit WindowDriver(LineModule& module) : m_module(module) {
        PortMap map;
        map.set(1, QString::fromStdString(module.devicePath()), QStringLiteral("line module"));
        m_window = std::make_unique<Form1>(map, UiServices{&m_messages, nullptr, nullptr});
        // Connected after the window's own handlers, so it runs right after the reply is shown.
        connect(&m_window->serialLink(), &SerialLink::OnComm, this, [this] {
            if (m_shownNs == 0)
                m_shownNs = monotonicNs();
        });
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            fail("the window was never shown");
        QTest::mouseClick(button("comopen"), Qt::LeftButton);
        if (!m_window->serialLink().portOpen())
            fail("the window did not open " + module.devicePath());
    }

    // Release of the click to "Success!", with the module's record of the exchange.
    Round click(const char* name) {
        QPushButton* target = button(name);
        const std::uint64_t served = m_module.served();
        // The press and its repaint come as the operator's finger goes down, before the request.
        QTest::mousePress(target, Qt::LeftButton);
        QCoreApplication::processEvents();
        m_shownNs = 0;
        const std::int64_t releaseNs = monotonicNs();
        QTest::mouseRelease(target, Qt::LeftButton);
        QElapsedTimer guard;
        guard.start();
        while (m_shownNs == 0 && guard.elapsed() < kGuardMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (m_window->panelText(2) != QLatin1String("Success!"))
            fail(std::string(name) + " shows \"" + m_window->panelText(2).toStdString() + "\"");
        if (!m_module.waitServed(served + 1, kGuardMs))
            fail("the module has no record of the exchange");
        return Round(releaseNs, m_shownNs, m_module.lastExchange());
    }

private:
    QPushButton* button(const char* name) const {
        auto* found = m_window->findChild<QPushButton*>(QLatin1String(name));
        if (!found || !found->isEnabled())
            fail(std::string("no enabled button ") + name);
        return found;
    }

    LineModule& m_module;
    FailingMessages m_messages;
    std::unique_ptr<Form1> m_window;
    std::int64_t m_shownNs = 0;
};

// The minimal client in a process of its own on its own line module, one exchange a line sent.
class ClientDriver {
public:
    explicit ClientDriver(CommandCode code) {
        QString error;
        if (!m_module.open(&error))
            fail("no pseudo-terminal: " + error.toStdString());
        const QByteArray frame = buildCommandFrame(code);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QSERIALPORT_CLIENT_PATH),
                        {QString::fromStdString(m_module.devicePath()),
                         QString::fromLatin1(frame.toHex()), QString::number(frame.size())});
        if (readLine() != "ready")
            fail("the QSerialPort client is not ready");
    }

    ~ClientDriver() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }

    LineModule& module() { return m_module; }

    Round exchange() {
        const std::uint64_t served = m_module.served();
        m_process.write("x\n");
        long long stamp = 0;
        long long elapsed = 0;
        const std::string line = readLine();
        if (std::sscanf(line.c_str(), "%lld %lld", &stamp, &elapsed) != 2)
            fail("QSerialPort client: " + line);
        if (!m_module.waitServed(served + 1, kGuardMs))
            fail("the module has no record of the client's exchange");
        return Round(stamp, stamp + elapsed, m_module.lastExchange());
    }

private:
    std::string readLine() {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(5000))
                fail("the QSerialPort client does not answer");
        }
        return m_process.readLine().trimmed().toStdString();
    }

    LineModule m_module;
    QProcess m_process;
};

using Rounds = std::vector<Round>;

std::vector<double> field(const Rounds& rounds, double Round::*member) {
    std::vector<double> out;
    for (const Round& r : rounds)
        out.push_back(r.*member);
    return out;
}

std::string ms(const Rounds& rounds, double Round::*member = &Round::ms) {
    return spread(field(rounds, member), " ms");
}

void rest(bool resting) {
    if (resting)
        QTest::qWait(kRestMs);
}

void runImmediate(WindowDriver& window, LineModule& windowModule, ClientDriver& client, int rounds,
                  bool resting) {
    windowModule.setPace(LineModule::Pace::Immediate);
    client.module().setPace(LineModule::Pace::Immediate);
    Rounds w;
    Rounds q;
    for (int round = 0; round < rounds; ++round) {
        // The two take turns leading, so neither always runs on a warmer machine.
        for (int i = 0; i < 2; ++i) {
            if ((i + round) % 2 == 0)
                w.push_back(window.click("Command1"));
            else
                q.push_back(client.exchange());
            rest(resting);
        }
    }
    result("2a", "click to Success! vs minimal QSerialPort client, 13+13 bytes, module at once",
           "<= 1.5", over(field(w, &Round::ms), field(q, &Round::ms)));
    detail("2a", "window click to Success! " + ms(w) + ", QSerialPort client write to last byte " +
                     ms(q));
    detail("2a", "to the request's first byte at the module: window " + ms(w, &Round::outMs) +
                     ", client " + ms(q, &Round::outMs) + "; last reply byte to done: window " +
                     ms(w, &Round::tailMs) + ", client " + ms(q, &Round::tailMs));
}

void runPaced(WindowDriver& window, LineModule& windowModule,
              std::map<int, std::unique_ptr<ClientDriver>>& clients, int rounds, bool resting) {
    windowModule.setPace(LineModule::Pace::Wire);
    for (auto& entry : clients)
        entry.second->module().setPace(LineModule::Pace::Wire);
    std::map<int, Rounds> w;
    std::map<int, Rounds> q;
    constexpr int kLengths[] = {13, 15};
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 4; ++i) {
            const int which = (i + round) % 4;
            const int length = kLengths[which % 2];
            if (which < 2)
                w[length].push_back(window.click(length == 13 ? "Command1" : "readchannel"));
            else
                q[length].push_back(clients[length]->exchange());
            rest(resting);
        }
    }
    for (const int length : kLengths) {
        const double wireMs = double(lineTimeNs(2 * length)) / 1e6;
        const std::vector<double> wire(std::size_t(rounds), wireMs);
        char what[96];
        std::snprintf(what, sizeof what, "%d+%d bytes at 9600 8N1 (%s read, %.3f ms)", length,
                      length, length == 13 ? "channel" : "frequency", wireMs);
        result("2b", std::string("click to Success! vs wire time, ") + what, "<= 1.01",
               over(field(w[length], &Round::ms), wire));
        detail("2b", std::string(what) + ": window " + ms(w[length]) + ", QSerialPort client " +
                         ms(q[length]) + ", the client over wire time " +
                         spread(over(field(q[length], &Round::ms), wire), "x") +
                         "; last reply byte to done: window " + ms(w[length], &Round::tailMs));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The look the program itself sets.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds per side (default 30)."),
                                          QStringLiteral("N"), QStringLiteral("30"));
    const QCommandLineOption idleOption(QStringLiteral("idle"),
                                        QStringLiteral("Open COM1, say ready, then idle."));
    parser.addOptions({roundsOption, idleOption});
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    LineModule windowModule;
    QString error;
    if (!windowModule.open(&error))
        fail("no pseudo-terminal: " + error.toStdString());
    WindowDriver window(windowModule);
    if (parser.isSet(idleOption)) {
        std::printf("ready\n");
        std::fflush(stdout);
        return app.exec();
    }
    std::map<int, std::unique_ptr<ClientDriver>> clients;
    clients[13] = std::make_unique<ClientDriver>(command::kReadChannel);
    clients[15] = std::make_unique<ClientDriver>(command::kReadFrequency);
    detail("2a", "platform " + QGuiApplication::platformName().toStdString() +
                     ", rounds alternating window / client; median (p25..p75; n)");
    detail("2b", std::string("module thread ") +
                     (windowModule.realTime() ? "real-time (SCHED_FIFO)" : "ordinary") +
                     ", reply bytes 1.0417 ms apart on absolute deadlines");
    // A first exchange each, untimed: the first click pays for fonts, styles and page faults.
    window.click("Command1");
    window.click("readchannel");
    clients[13]->exchange();
    const bool resting = rounds > 1;
    runImmediate(window, windowModule, *clients[13], rounds, resting);
    runPaced(window, windowModule, clients, rounds, resting);
    return 0;
}
