#include "core/module_session.h"
#include "core/qt_serial_link.h"
#include "core/serial_errors.h"
#include "emulator/pty_host.h"
#include "support/scripted_link.h"

#include <QMetaEnum>
#include <QTest>

#include <memory>

using namespace zentrava;
using Rejection = ModuleSession::Rejection;
using V = ModuleValue;

namespace {

// Long enough for the emulator's prompt replies, short enough to wait past a few times.
constexpr int kShortTimeoutMs = 250;
constexpr CommandCode kChannel = command::kReadChannel;

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray pair(int first, int second) {
    return payloadBytes({std::uint8_t(first), std::uint8_t(second)});
}

FrequencyWord word(const char* text) {
    const QByteArray b = hex(text);
    return {std::uint8_t(b[0]), std::uint8_t(b[1]), std::uint8_t(b[2]), std::uint8_t(b[3])};
}

// A reply as the module sends it: the check byte is the sum of the bytes before it.
QByteArray reply(int code, const QByteArray& payload) {
    QByteArray bytes = hex("afaf0000af00") + char(code) + char(payload.size()) + payload;
    std::uint8_t sum = 0;
    for (const char byte : bytes)
        sum = std::uint8_t(sum + std::uint8_t(byte));
    return bytes + char(sum) + hex("0d0a");
}

QByteArray channelReply(int channel) {
    return reply(kChannel, pair(channel, 0));
}

QString describe(const ModuleValue& v) {
    switch (v.setting) {
    case Setting::Serial:
        return QStringLiteral("serial %1 %2").arg(v.number).arg(QLatin1Char(v.parity));
    case Setting::Frequency:
        return QStringLiteral("frequency ") + QLatin1String(frequencyBytes(v.frequency).toHex());
    default:
        return QStringLiteral("%1 %2")
            .arg(QLatin1String(settingInfo(v.setting).name))
            .arg(v.number);
    }
}

// What the session reported, one line a signal, so a whole exchange is compared at once.
QString accepted(int code, const ModuleValue& value) {
    return QStringLiteral("accepted %1: %2").arg(code).arg(describe(value));
}
QString rejected(int code, Rejection reason) {
    const char* key = QMetaEnum::fromType<Rejection>().valueToKey(int(reason));
    return QStringLiteral("rejected %1: %2").arg(code).arg(QLatin1String(key));
}
QString timedOut(int code) {
    return QStringLiteral("timed out %1").arg(code);
}
const QString kDeviceLost = QStringLiteral("device lost");

} // namespace

Q_DECLARE_METATYPE(zentrava::ModuleValue)

class TestSession : public QObject {
    Q_OBJECT

    std::unique_ptr<emu::PtyHost> host;
    std::unique_ptr<QtSerialLink> link;
    std::unique_ptr<ModuleSession> session;
    QStringList log;

    void record(ModuleSession& s) {
        connect(&s, &ModuleSession::accepted, this,
                [this](CommandCode code, const V& value) { log << accepted(code, value); });
        connect(&s, &ModuleSession::rejected, this,
                [this](CommandCode code, Rejection reason) { log << rejected(code, reason); });
        connect(&s, &ModuleSession::timedOut, this, [this](CommandCode c) { log << timedOut(c); });
        connect(&s, &ModuleSession::deviceLost, this, [this] { log << kDeviceLost; });
    }

    // Nothing more is reported within two time-outs: a stray reply timer would have fired.
    bool staysQuiet() {
        const qsizetype count = log.size();
        return !QTest::qWaitFor([&] { return log.size() > count; }, 2 * kShortTimeoutMs);
    }

private Q_SLOTS:
    void init() {
        host = std::make_unique<emu::PtyHost>();
        QVERIFY(host->open());
        // Away from the start-up values, so each read shows the module's own answer.
        host->model().settings() = {8, 2, 7, 5, 64, 0xbeef, word("390aaaaa")};
        PortMap map;
        map.set(1, host->devicePath());
        link = std::make_unique<QtSerialLink>(map);
        QCOMPARE(link->setCommPort(1), 0);
        QCOMPARE(link->setSettings(QStringLiteral("9600,n,8,1")), 0);
        QCOMPARE(link->setPortOpen(true), 0);
        session = std::make_unique<ModuleSession>(*link);
        record(*session);
    }

    void cleanup() {
        session.reset();
        link.reset();
        host.reset();
        log.clear();
    }

    void everyCode_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<V>("value");
        QTest::addColumn<bool>("known"); // false: the value names no list entry
        const auto read = [](const char* name, CommandCode code, const V& value) {
            QTest::newRow(name) << int(code) << QByteArray() << value << true;
        };
        const auto write = [](const char* name, const V& value) {
            QTest::newRow(name) << int(writeCode(value.setting)) << *encodePayload(value) << value
                                << true;
        };
        const auto raw = [](const char* name, CommandCode code, const char* payload) {
            QTest::newRow(name) << int(code) << hex(payload) << V{} << false;
        };
        read("read serial", command::kReadSerial, V::serial(115200, 'o'));
        write("write serial", V::serial(1200, 'e'));
        read("read data rate", command::kReadDataRate, V::dataRate(57600));
        write("write data rate", V::dataRate(2400));
        read("read channel", command::kReadChannel, V::channel(5));
        write("write channel", V::channel(17));
        read("read id", command::kReadId, V::productId(0xbeef));
        write("write id", V::productId(4660));
        read("read power", command::kReadPower, V::power(64));
        write("write power", V::power(127));
        read("read frequency", command::kReadFrequency, V::frequencyWord(word("390aaaaa")));
        write("write frequency", V::frequencyWord(encodeFrequency(868.0)));
        write("channel 200, beyond the list", V::channel(200));
        write("power 0, beyond the list", V::power(0));
        raw("data rate code 0", command::kWriteDataRate, "0000");
        raw("data rate code 8", command::kWriteDataRate, "0800");
        raw("baud code 0", command::kWriteSerial, "0000");
        raw("baud code 9", command::kWriteSerial, "0900");
        raw("parity code 3", command::kWriteSerial, "0403");
    }

    void everyCode() {
        QFETCH(int, code);
        QFETCH(QByteArray, payload);
        QFETCH(V, value);
        QFETCH(bool, known);
        const auto outcome = [&](int c) {
            return known ? accepted(c, value) : rejected(c, Rejection::UnknownValue);
        };
        QCOMPARE(session->request(CommandCode(code), payload), 0);
        QCOMPARE(int(session->pending()), code);
        QTRY_COMPARE(log, QStringList{outcome(code)});
        QCOMPARE(host->received().toHex(), buildCommandFrame(CommandCode(code), payload).toHex());
        QCOMPARE(int(session->pending()), 0);
        if (code % 2 == 0)
            return;
        // The module keeps what was written: reading it back gives the same answer.
        QCOMPARE(session->request(CommandCode(code + 1)), 0);
        QTRY_COMPARE(log, (QStringList{outcome(code), outcome(code + 1)}));
    }

    // The layout faults, overruns and time-outs run through the fault matrix; here what only
    // the session decides: the spare byte of the buffer, and check bytes.
    void replies_data() {
        QTest::addColumn<QByteArray>("bytes"); // written by the test once the request is in
        QTest::addColumn<bool>("verify");
        QTest::addColumn<QStringList>("expected");
        const QString ok = accepted(kChannel, V::channel(5));
        QByteArray wrongCheck = channelReply(5);
        wrongCheck[10] = char(wrongCheck[10] ^ 0xff);
        QTest::newRow("one byte more fits")
            << channelReply(5) + hex("ee") << false << QStringList{ok};
        QTest::newRow("wrong check byte, not verified") << wrongCheck << false << QStringList{ok};
        QTest::newRow("wrong check byte, verified")
            << wrongCheck << true << QStringList{rejected(kChannel, Rejection::CheckByte)};
        QTest::newRow("right check byte, verified") << channelReply(5) << true << QStringList{ok};
    }

    void replies() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, verify);
        QFETCH(QStringList, expected);
        host->model().queueFault({emu::FaultKind::Silent, 0});
        session->setTimeout(kShortTimeoutMs);
        session->setCheckByteVerified(verify);
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(host->received(), buildCommandFrame(kChannel));
        host->writeRaw(bytes);
        QTRY_COMPARE(log, expected);
        QVERIFY(staysQuiet());
        QCOMPARE(session->pending(), CommandCode(0));
        // Whatever happened, the next exchange on the same session goes through.
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(log, expected + QStringList{accepted(kChannel, V::channel(5))});
    }

    // Request A times out; its reply comes while B waits and is taken for B's. B's own reply
    // then arrives with nothing awaiting it, and must not be taken for C's.
    void lateReplyCostsOneExchange() {
        const QByteArray frame = buildCommandFrame(kChannel);
        host->model().setFault({emu::FaultKind::Silent, 0});
        session->setTimeout(kShortTimeoutMs);
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(log, QStringList{timedOut(kChannel)});
        session->setTimeout(ModuleSession::kDefaultTimeoutMs); // B and C are answered in time
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(host->received(), frame + frame);
        host->writeRaw(channelReply(1));
        QStringList expected{timedOut(kChannel), accepted(kChannel, V::channel(1))};
        QTRY_COMPARE(log, expected);
        host->writeRaw(channelReply(2));
        QTRY_COMPARE(link->inBufferCount(), int(frame.size()));
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(host->received(), frame + frame + frame);
        host->writeRaw(channelReply(3));
        expected << accepted(kChannel, V::channel(3)); // C's own, not B's
        QTRY_COMPARE(log, expected);
    }

    // The window keeps its own time: after a zero no earlier time-out may still apply.
    void zeroTimeoutKeepsNoTime() {
        host->model().setFault({emu::FaultKind::Silent, 0});
        session->setTimeout(kShortTimeoutMs);
        session->setTimeout(0);
        QCOMPARE(session->request(kChannel), 0);
        QVERIFY(staysQuiet());
        QCOMPARE(session->pending(), kChannel);
    }

    void deviceLost_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("unplug"); // the test pulls the device while the request waits
        QTest::newRow("vanish fault") << int(emu::FaultKind::Vanish) << false;
        QTest::newRow("vanished while waiting") << int(emu::FaultKind::Silent) << true;
    }

    void deviceLost() {
        QFETCH(int, fault);
        QFETCH(bool, unplug);
        host->model().queueFault({emu::FaultKind(fault), 0});
        session->setTimeout(kShortTimeoutMs);
        QCOMPARE(session->request(kChannel), 0);
        QTRY_COMPARE(host->received(), buildCommandFrame(kChannel));
        if (unplug)
            host->vanish();
        QTRY_COMPARE(log, QStringList{kDeviceLost});
        QVERIFY(staysQuiet());
        QCOMPARE(session->pending(), 0);
        QVERIFY(!link->portOpen());
    }

    // Failures a pseudo-terminal cannot produce.
    void scriptedFailures_data() {
        QTest::addColumn<QString>("failing"); // the link operation that fails
        QTest::addColumn<bool>("ask");        // whether a request goes out first
        QTest::addColumn<int>("returned");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("output fails")
            << QStringLiteral("output") << true << serial_error::kDeviceError << QStringList();
        QTest::newRow("input fails") << QStringLiteral("input") << true << 0
                                     << QStringList{rejected(kChannel, Rejection::ReadFailed)};
        QTest::newRow("receive event with nothing pending")
            << QString() << false << 0 << QStringList();
    }

    void scriptedFailures() {
        QFETCH(QString, failing);
        QFETCH(bool, ask);
        QFETCH(int, returned);
        QFETCH(QStringList, expected);
        test::ScriptedLink scripted;
        scripted.openablePorts = {1};
        QCOMPARE(scripted.setPortOpen(true), 0);
        ModuleSession s(scripted);
        record(s);
        s.setTimeout(kShortTimeoutMs);
        if (!failing.isEmpty())
            scripted.failures[failing] = serial_error::kDeviceError;
        if (ask)
            QCOMPARE(s.request(kChannel), returned);
        // A reply that would be accepted if anything were still awaited.
        scripted.waiting = channelReply(5);
        scripted.raiseReceive();
        QCOMPARE(log, expected);
        QVERIFY(staysQuiet());
        QCOMPARE(s.pending(), 0);
    }

    void payloads_data() {
        QTest::addColumn<V>("value");
        QTest::addColumn<QByteArray>("wire"); // empty: the module cannot be told this value
        const auto row = [](const V& value, const QByteArray& wire) {
            QTest::newRow(qPrintable(describe(value))) << value << wire;
        };
        // A list's position is its code: rates count from 1, parity from 0.
        const int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        const char parities[] = {'n', 'e', 'o'};
        for (int b = 0; b < 8; ++b) {
            for (int p = 0; p < 3; ++p)
                row(V::serial(rates[b], parities[p]), pair(b + 1, p));
        }
        for (int d = 0; d < 7; ++d)
            row(V::dataRate(rates[d]), pair(d + 1, 0));
        for (int n : {0, 32, 255})
            row(V::channel(n), pair(n, 0));
        for (int n : {1, 127})
            row(V::power(n), pair(n, 0));
        for (int n : {0, 4660, 65535})
            row(V::productId(n), pair(n >> 8, n & 0xff));
        for (const char* w : {"380eeeee", "38080000", "00000000"})
            row(V::frequencyWord(word(w)), hex(w));
        // No code on the wire for these.
        for (const V& v : {V::serial(300, 'n'), V::serial(9600, 'x'), V::dataRate(115200),
                           V::channel(256), V::power(-1), V::productId(65536)})
            row(v, {});
    }

    void payloads() {
        QFETCH(V, value);
        QFETCH(QByteArray, wire);
        const std::optional<QByteArray> payload = encodePayload(value);
        QCOMPARE(payload.value_or(QByteArray()).toHex(), wire.toHex());
        if (!payload)
            return;
        for (const CommandCode code : {writeCode(value.setting), readCode(value.setting)}) {
            const std::optional<V> decoded = decodePayload(code, reply(code, *payload));
            QVERIFY(decoded);
            QVERIFY2(*decoded == value, qPrintable(describe(*decoded)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
