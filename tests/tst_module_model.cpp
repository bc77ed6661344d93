#include "emulator/module_model.h"

#include "core/command_frame.h"

#include <QTest>

using namespace zentrava;
using namespace zentrava::emu;

Q_DECLARE_METATYPE(zentrava::emu::Fault)

namespace {

const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
// A frame from the bytes between its fixed head and its CR LF.
const auto frame = [](const char* body) { return hex("afaf0000af") + hex(body) + hex("0d0a"); };

const QByteArray kReadChannel = frame("80 06 02 00 00 95");
const QByteArray kReadFrequency = frame("80 0e 04 00 00 00 00 9f");

QByteArray onlyReply(ModuleModel& model, const QByteArray& request) {
    const std::vector<Reply> replies = model.feed(request);
    return replies.size() == 1 ? replies.front().bytes : QByteArray("<not one reply>");
}

} // namespace

class TestModuleModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answers_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Fault>("fault");
        auto row = [](const char* name, const QByteArray& request, const QByteArray& reply,
                      Fault fault = {}) { QTest::newRow(name) << request << reply << fault; };
        row("read serial", frame("80 02 02 00 00 91"), frame("00 02 02 05 02 18"));
        row("read id", frame("80 0a 02 00 00 99"), frame("00 0a 02 12 34 5f"));
        row("read frequency", kReadFrequency, frame("00 0e 04 39 0f 12 34 ad"));
        row("write serial, parity 3", frame("80 01 02 04 03 97"), frame("00 01 02 04 03 17"));
        row("write channel 200, not 55", frame("80 05 02 c8 55 b1"), frame("00 05 02 c8 00 dc"));
        row("write id 43981", frame("80 09 02 ab cd 10"), frame("00 09 02 ab cd 90"));
        row("write frequency", frame("80 0d 04 ff ff ff ff 9a"), frame("00 0d 04 ff ff ff ff 1a"));

        using F = FaultKind;
        const QByteArray channel = frame("00 06 02 11 00 26");
        const QByteArray freq = frame("00 0e 04 39 0f 12 34 ad");
        row("wrong code", kReadChannel, frame("00 07 02 11 00 26"), {F::WrongCode});
        row("bad header", kReadChannel, hex("00") + channel.mid(1), {F::BadHeader});
        row("bad length 2 -> 4", kReadChannel, frame("00 06 04 11 00 26"), {F::BadLength});
        row("bad length 4 -> 2", kReadFrequency, frame("00 0e 02 39 0f 12 34 ad"), {F::BadLength});
        row("bad terminator", kReadFrequency, freq.left(13) + hex("00 0a"), {F::BadTerminator});
        row("short:4", kReadChannel, channel.chopped(4), {F::ShortReply, 4});
        row("long:1", kReadChannel, channel + hex("ee"), {F::LongReply, 1});
        row("noise:1", kReadChannel, hex("55") + channel, {F::NoiseFirst, 1});
        row("silent", kReadChannel, {}, {F::Silent});
        row("vanish", kReadChannel, {}, {F::Vanish});
    }

    void answers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(Fault, fault);
        ModuleModel model;
        // baud, parity, data rate, channel, power, id, frequency
        model.settings() = {5, 2, 3, 17, 99, 0x1234, {0x39, 0x0F, 0x12, 0x34}};
        model.setFault(fault);
        for (int i = 0; i < 2; ++i) // a standing fault stays
            QCOMPARE(onlyReply(model, request), reply);
        const int code = request[6], n = payloadLength(code);
        if (code % 2 == 1) // a write: the value stays, even outside the tool's lists
            QCOMPARE(onlyReply(model, buildCommandFrame(CommandCode(code + 1))).mid(8, n),
                     reply.mid(8, n));
    }

    void dropsMalformedFindsRequests_data() {
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<QByteArrayList>("requests");
        const QByteArrayList one{kReadChannel};
        QTest::newRow("two requests")
            << QByteArray() << QByteArrayList{kReadFrequency, kReadChannel};
        QTest::newRow("bad checksum") << frame("80 06 02 00 00 96") << one;
        QTest::newRow("reply marker") << frame("00 06 02 00 00 15") << one;
        QTest::newRow("length 4 for a 2-byte code") << frame("80 06 04 00 00 00 00 97") << one;
        QTest::newRow("unknown code 7") << frame("80 07 02 00 00 96") << one;
        QTest::newRow("CR missing") << hex("af af 00 00 af 80 06 02 00 00 95 00 0a") << one;
        QTest::newRow("cut short") << kReadChannel.chopped(1) << one;
        QTest::newRow("header fragments") << hex("af af af af 00 af af 00 00 af") << one;
    }

    void dropsMalformedFindsRequests() {
        QFETCH(QByteArray, bad);
        QFETCH(QByteArrayList, requests);
        const QByteArray bytes = bad + requests.join();
        for (const int piece : {int(bytes.size()), 1}) { // all at once, then byte by byte
            ModuleModel model;
            QByteArrayList answered;
            for (int i = 0; i < bytes.size(); i += piece)
                for (const Reply& reply : model.feed(bytes.mid(i, piece)))
                    answered << reply.request;
            QCOMPARE(answered, requests);
            QCOMPARE(model.takeDiscarded(), bad);
        }
    }

    void queuedFaultsComeFirst() {
        ModuleModel model;
        model.setFault({FaultKind::LongReply, 1});
        model.queueFault({FaultKind::Silent, 0});
        model.queueFault({FaultKind::WrongCode, 0});
        QVERIFY(model.feed(frame("80 06 02 00 00 00")).empty()); // dropped: uses up no fault
        QCOMPARE(onlyReply(model, frame("80 05 02 09 00 9d")), QByteArray()); // still stored
        QCOMPARE(onlyReply(model, kReadChannel), frame("00 07 02 09 00 1e"));
        QCOMPARE(onlyReply(model, kReadChannel), frame("00 06 02 09 00 1e") + hex("ee"));
    }

    void parseFault_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // as faultText() gives it back; empty: refused
        auto row = [](const char* text, const char* parsed) {
            QTest::newRow(text) << QString(text) << QString(parsed);
        };
        row(" Silent ", "silent");
        row("delay", "delay:1000");
        row("delay:600000", "delay:600000");
        row("sil", "");
        row("silent:3", "");
        row("delay:0", "");
        row("delay:600001", "");
    }

    void parseFault() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const std::optional<Fault> fault = ModuleModel::parseFault(text);
        QCOMPARE(fault ? faultText(*fault) : QString(), parsed);
    }
};

QTEST_GUILESS_MAIN(TestModuleModel)
#include "tst_module_model.moc"
