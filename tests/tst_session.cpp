// What only the session decides, apart from the fault matrix and the programs that use it: the
// payload of every value, its own timer, and failures a pseudo-terminal cannot produce.
#include "core/serial_errors.h"
#include "support/frames.h"
#include "support/scripted_link.h"
#include "support/session_log.h"

#include <QTest>

using namespace zentrava;
using namespace zentrava::test;
using V = ModuleValue;

Q_DECLARE_METATYPE(zentrava::ModuleValue)

class TestSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scriptedLink_data() {
        QTest::addColumn<QString>("failing"); // the link operation that fails
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("returned");
        QTest::addColumn<QStringList>("expected"); // once a reply is there to be read
        QTest::addColumn<int>("pending");
        const int channel = command::kReadChannel;
        QTest::newRow("output fails")
            << "output" << 250 << serial_error::kDeviceError << QStringList() << 0;
        QTest::newRow("input fails")
            << "input" << 250 << 0
            << QStringList{rejected(channel, ModuleSession::Rejection::ReadFailed)} << 0;
        // The window keeps its own time: after a zero no earlier time-out may still apply.
        QTest::newRow("zero time-out keeps no time") << "" << 0 << 0 << QStringList() << channel;
    }

    void scriptedLink() {
        QFETCH(QString, failing);
        QFETCH(int, timeout);
        QFETCH(int, returned);
        QFETCH(QStringList, expected);
        QFETCH(int, pending);
        ScriptedLink link;
        link.openablePorts = {1};
        QCOMPARE(link.setPortOpen(true), 0);
        ModuleSession session(link);
        QStringList log;
        record(session, log);
        session.setTimeout(250);
        session.setTimeout(timeout);
        if (!failing.isEmpty())
            link.failures[failing] = serial_error::kDeviceError;
        QCOMPARE(session.request(command::kReadChannel), returned);
        if (pending == 0) { // a reply that would be accepted if anything were still awaited
            link.waiting = replyFrame(command::kReadChannel, hex("0500"));
            link.raiseReceive();
        }
        QCOMPARE(log, expected);
        // Nothing more within two time-outs: a stray reply timer would have fired.
        QVERIFY(!QTest::qWaitFor([&] { return log.size() > expected.size(); }, 500));
        QCOMPARE(session.pending(), pending);
    }

    void payloads_data() {
        QTest::addColumn<V>("value");
        QTest::addColumn<QByteArray>("wire"); // empty: the module cannot be told this value
        const auto row = [](const V& value, const QByteArray& wire) {
            QTest::newRow(qPrintable(describe(value))) << value << wire;
        };
        const auto pair = [](int first, int second) {
            return payloadBytes({std::uint8_t(first), std::uint8_t(second)});
        };
        // A list's position is its code: rates count from 1, parity from 0.
        const int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        for (int b = 0; b < 8; ++b) {
            for (int p = 0; p < 3; ++p)
                row(V::serial(rates[b], "neo"[p]), pair(b + 1, p));
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
            row(V::frequencyWord(frequencyWord(QByteArray(w).toUInt(nullptr, 16))), hex(w));
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
            const std::optional<V> decoded = decodePayload(code, replyFrame(code, *payload));
            QVERIFY(decoded);
            QVERIFY2(*decoded == value, qPrintable(describe(*decoded)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
