#include "emulator/module_model.h"

#include "protocol/command_frame.h"

#include <QTest>

using namespace zentrava;
using namespace zentrava::emu;

Q_DECLARE_METATYPE(zentrava::emu::Fault)

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

const QByteArray kReadChannel = hex("af af 00 00 af 80 06 02 00 00 95 0d 0a");
const QByteArray kChannelZeroReply = hex("af af 00 00 af 00 06 02 00 00 15 0d 0a");

QByteArray onlyReply(ModuleModel& model, const QByteArray& request) {
    const std::vector<Reply> replies = model.feed(request);
    if (replies.size() != 1) {
        qWarning("expected one reply, got %d", int(replies.size()));
        return "<no single reply>";
    }
    return replies.front().bytes;
}

} // namespace

class TestModuleModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersEachCode_data();
    void answersEachCode();
    void writeThenReadKeepsValue_data();
    void writeThenReadKeepsValue();
    void dropsMalformedRequest_data();
    void dropsMalformedRequest();
    void reassemblesStream();
    void faults_data();
    void faults();
    void queuedFaultsComeFirst();
    void writeUnderSilenceStillTakesEffect();
    void parseFault_data();
    void parseFault();
};

void TestModuleModel::answersEachCode_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    // Reads see the distinctive values set in the test body.
    QTest::newRow("read serial") << hex("af af 00 00 af 80 02 02 00 00 91 0d 0a")
                                 << hex("af af 00 00 af 00 02 02 05 02 18 0d 0a");
    QTest::newRow("read data rate") << hex("af af 00 00 af 80 04 02 00 00 93 0d 0a")
                                    << hex("af af 00 00 af 00 04 02 03 00 16 0d 0a");
    QTest::newRow("read channel") << hex("af af 00 00 af 80 06 02 00 00 95 0d 0a")
                                  << hex("af af 00 00 af 00 06 02 11 00 26 0d 0a");
    QTest::newRow("read id") << hex("af af 00 00 af 80 0a 02 00 00 99 0d 0a")
                             << hex("af af 00 00 af 00 0a 02 12 34 5f 0d 0a");
    QTest::newRow("read power") << hex("af af 00 00 af 80 0c 02 00 00 9b 0d 0a")
                                << hex("af af 00 00 af 00 0c 02 63 00 7e 0d 0a");
    QTest::newRow("read frequency") << hex("af af 00 00 af 80 0e 04 00 00 00 00 9f 0d 0a")
                                    << hex("af af 00 00 af 00 0e 04 39 0f 12 34 ad 0d 0a");

    QTest::newRow("write serial") << hex("af af 00 00 af 80 01 02 07 02 99 0d 0a")
                                  << hex("af af 00 00 af 00 01 02 07 02 19 0d 0a");
    QTest::newRow("write data rate") << hex("af af 00 00 af 80 03 02 06 00 98 0d 0a")
                                     << hex("af af 00 00 af 00 03 02 06 00 18 0d 0a");
    QTest::newRow("write channel") << hex("af af 00 00 af 80 05 02 20 00 b4 0d 0a")
                                   << hex("af af 00 00 af 00 05 02 20 00 34 0d 0a");
    QTest::newRow("write channel, second byte not echoed")
        << hex("af af 00 00 af 80 05 02 0c 55 f5 0d 0a")
        << hex("af af 00 00 af 00 05 02 0c 00 20 0d 0a");
    QTest::newRow("write id") << hex("af af 00 00 af 80 09 02 12 34 de 0d 0a")
                              << hex("af af 00 00 af 00 09 02 12 34 5e 0d 0a");
    QTest::newRow("write power") << hex("af af 00 00 af 80 0b 02 01 00 9b 0d 0a")
                                 << hex("af af 00 00 af 00 0b 02 01 00 1b 0d 0a");
    QTest::newRow("write frequency") << hex("af af 00 00 af 80 0d 04 39 0f 00 00 e6 0d 0a")
                                     << hex("af af 00 00 af 00 0d 04 39 0f 00 00 66 0d 0a");
}

void TestModuleModel::answersEachCode() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    ModuleModel model;
    ModuleSettings& s = model.settings();
    s.baudCode = 5;
    s.parityCode = 2;
    s.dataRateCode = 3;
    s.channel = 17;
    s.power = 99;
    s.id = 0x1234;
    s.frequency = {0x39, 0x0F, 0x12, 0x34};

    const std::vector<Reply> replies = model.feed(request);
    QCOMPARE(replies.size(), std::size_t(1));
    QCOMPARE(replies[0].request, request);
    QCOMPARE(replies[0].bytes, reply);
    QCOMPARE(replies[0].fault.kind, FaultKind::None);
}

void TestModuleModel::writeThenReadKeepsValue_data() {
    QTest::addColumn<int>("writeCode");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("readBack");

    QTest::newRow("serial") << 1 << hex("08 01") << hex("08 01");
    QTest::newRow("serial, parity 3") << 1 << hex("04 03") << hex("04 03");
    QTest::newRow("data rate 7") << 3 << hex("07 00") << hex("07 00");
    QTest::newRow("data rate 9") << 3 << hex("09 00") << hex("09 00");
    QTest::newRow("channel 32") << 5 << hex("20 00") << hex("20 00");
    QTest::newRow("channel 200") << 5 << hex("c8 00") << hex("c8 00");
    QTest::newRow("id 65535") << 9 << hex("ff ff") << hex("ff ff");
    QTest::newRow("power 0") << 11 << hex("00 00") << hex("00 00");
    QTest::newRow("power 255") << 11 << hex("ff 00") << hex("ff 00");
    QTest::newRow("frequency all ones") << 13 << hex("ff ff ff ff") << hex("ff ff ff ff");
}

void TestModuleModel::writeThenReadKeepsValue() {
    QFETCH(int, writeCode);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, readBack);

    ModuleModel model;
    const int n = payloadLength(writeCode);
    const QByteArray writeReply =
        onlyReply(model, buildCommandFrame(CommandCode(writeCode), written));
    QCOMPARE(writeReply.mid(8, n), readBack);

    // Reading twice also shows a read does not disturb the value.
    for (int i = 0; i < 2; ++i) {
        const QByteArray readReply =
            onlyReply(model, buildCommandFrame(CommandCode(writeCode + 1)));
        QCOMPARE(readReply.mid(8, n), readBack);
    }
}

void TestModuleModel::dropsMalformedRequest_data() {
    QTest::addColumn<QByteArray>("bad");

    QTest::newRow("bad checksum") << hex("af af 00 00 af 80 06 02 00 00 96 0d 0a");
    QTest::newRow("first header byte") << hex("ae af 00 00 af 80 06 02 00 00 94 0d 0a");
    QTest::newRow("reply marker") << hex("af af 00 00 af 00 06 02 00 00 15 0d 0a");
    QTest::newRow("length 4 for a 2-byte code")
        << hex("af af 00 00 af 80 06 04 00 00 00 00 97 0d 0a");
    QTest::newRow("length 2 for frequency") << hex("af af 00 00 af 80 0e 02 00 00 9d 0d 0a");
    QTest::newRow("unknown code 7") << hex("af af 00 00 af 80 07 02 00 00 96 0d 0a");
    QTest::newRow("CR missing") << hex("af af 00 00 af 80 06 02 00 00 95 00 0a");
    QTest::newRow("cut short before the next request")
        << hex("af af 00 00 af 80 06 02 00 00 95 0d");
    QTest::newRow("header fragments") << hex("af af af af 00 af af 00 00 af");
    QTest::newRow("noise") << hex("55 55 55 0d 0a 00");
}

void TestModuleModel::dropsMalformedRequest() {
    QFETCH(QByteArray, bad);

    ModuleModel model;
    QVERIFY(model.feed(bad).empty());
    QCOMPARE(model.settings().channel, std::uint8_t(0));

    // The stream must not stay stuck on the bad bytes.
    QCOMPARE(onlyReply(model, kReadChannel), kChannelZeroReply);
    QVERIFY(!model.takeDiscarded().isEmpty());
}

void TestModuleModel::reassemblesStream() {
    ModuleModel model;
    for (int i = 0; i < kReadChannel.size() - 1; ++i)
        QVERIFY(model.feed(kReadChannel.mid(i, 1)).empty());
    QCOMPARE(onlyReply(model, kReadChannel.right(1)), kChannelZeroReply);

    const QByteArray readPower = buildCommandFrame(command::kReadPower);
    const QByteArray readFrequency = buildCommandFrame(command::kReadFrequency);
    std::vector<Reply> replies = model.feed(kReadChannel + readPower + readFrequency.left(5));
    QCOMPARE(replies.size(), std::size_t(2));
    QCOMPARE(replies[0].request, kReadChannel);
    QCOMPARE(replies[1].request, readPower);

    replies = model.feed(readFrequency.mid(5));
    QCOMPARE(replies.size(), std::size_t(1));
    QCOMPARE(replies[0].request, readFrequency);
    QVERIFY(model.takeDiscarded().isEmpty());
}

void TestModuleModel::faults_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray readFrequency = hex("af af 00 00 af 80 0e 04 00 00 00 00 9f 0d 0a");

    QTest::newRow("wrong code") << Fault{FaultKind::WrongCode, 0} << kReadChannel
                                << hex("af af 00 00 af 00 07 02 00 00 15 0d 0a");
    QTest::newRow("bad header") << Fault{FaultKind::BadHeader, 0} << kReadChannel
                                << hex("00 af 00 00 af 00 06 02 00 00 15 0d 0a");
    QTest::newRow("bad length 2 -> 4") << Fault{FaultKind::BadLength, 0} << kReadChannel
                                       << hex("af af 00 00 af 00 06 04 00 00 15 0d 0a");
    QTest::newRow("bad length 4 -> 2") << Fault{FaultKind::BadLength, 0} << readFrequency
                                       << hex("af af 00 00 af 00 0e 02 38 0e ee ee 41 0d 0a");
    QTest::newRow("bad terminator") << Fault{FaultKind::BadTerminator, 0} << kReadChannel
                                    << hex("af af 00 00 af 00 06 02 00 00 15 00 0a");
    QTest::newRow("bad terminator, frequency")
        << Fault{FaultKind::BadTerminator, 0} << readFrequency
        << hex("af af 00 00 af 00 0e 04 38 0e ee ee 41 00 0a");
    QTest::newRow("short") << Fault{FaultKind::ShortReply, 0} << kReadChannel
                           << hex("af af 00 00 af 00 06 02 00 00 15 0d");
    QTest::newRow("short:4") << Fault{FaultKind::ShortReply, 4} << kReadChannel
                             << hex("af af 00 00 af 00 06 02 00");
    QTest::newRow("short:99") << Fault{FaultKind::ShortReply, 99} << kReadChannel << QByteArray();
    QTest::newRow("long") << Fault{FaultKind::LongReply, 0} << kReadChannel
                          << hex("af af 00 00 af 00 06 02 00 00 15 0d 0a ee ee");
    QTest::newRow("long:1") << Fault{FaultKind::LongReply, 1} << kReadChannel
                            << hex("af af 00 00 af 00 06 02 00 00 15 0d 0a ee");
    QTest::newRow("noise") << Fault{FaultKind::NoiseFirst, 0} << kReadChannel
                           << hex("55 55 55 af af 00 00 af 00 06 02 00 00 15 0d 0a");
    QTest::newRow("noise:1") << Fault{FaultKind::NoiseFirst, 1} << kReadChannel
                             << hex("55 af af 00 00 af 00 06 02 00 00 15 0d 0a");
    QTest::newRow("silent") << Fault{FaultKind::Silent, 0} << kReadChannel << QByteArray();
    QTest::newRow("vanish") << Fault{FaultKind::Vanish, 0} << kReadChannel << QByteArray();
    // Timing faults leave the bytes alone; the host does the timing.
    QTest::newRow("delay") << Fault{FaultKind::Delay, 250} << kReadChannel << kChannelZeroReply;
    QTest::newRow("trickle") << Fault{FaultKind::Trickle, 0} << kReadChannel << kChannelZeroReply;
    QTest::newRow("paced") << Fault{FaultKind::Paced, 0} << kReadChannel << kChannelZeroReply;
}

void TestModuleModel::faults() {
    QFETCH(Fault, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    ModuleModel model;
    model.setFault(fault);
    for (int i = 0; i < 2; ++i) { // a standing fault stays
        const std::vector<Reply> replies = model.feed(request);
        QCOMPARE(replies.size(), std::size_t(1));
        QCOMPARE(replies[0].bytes, reply);
        QCOMPARE(replies[0].fault.kind, fault.kind);
        QCOMPARE(replies[0].fault.param, fault.param);
    }
}

void TestModuleModel::queuedFaultsComeFirst() {
    ModuleModel model;
    model.setFault({FaultKind::LongReply, 1});
    model.queueFault({FaultKind::Silent, 0});
    model.queueFault({FaultKind::WrongCode, 0});

    // A dropped request does not use up a queued fault.
    QVERIFY(model.feed(hex("af af 00 00 af 80 06 02 00 00 00 0d 0a")).empty());

    QCOMPARE(onlyReply(model, kReadChannel), QByteArray());
    QCOMPARE(onlyReply(model, kReadChannel), hex("af af 00 00 af 00 07 02 00 00 15 0d 0a"));
    QCOMPARE(onlyReply(model, kReadChannel), kChannelZeroReply + hex("ee"));

    model.setFault({});
    QCOMPARE(onlyReply(model, kReadChannel), kChannelZeroReply);
}

void TestModuleModel::writeUnderSilenceStillTakesEffect() {
    ModuleModel model;
    model.queueFault({FaultKind::Silent, 0});
    QCOMPARE(onlyReply(model, buildCommandFrame(command::kWriteChannel, hex("09 00"))),
             QByteArray());
    QCOMPARE(model.settings().channel, std::uint8_t(9));
    QCOMPARE(onlyReply(model, kReadChannel), hex("af af 00 00 af 00 06 02 09 00 1e 0d 0a"));
}

void TestModuleModel::parseFault_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Fault>("fault");

    auto good = [](const char* text, FaultKind kind, int param) {
        QTest::newRow(text) << QString::fromLatin1(text) << true << Fault{kind, param};
    };
    auto bad = [](const char* name, const char* text) {
        QTest::newRow(name) << QString::fromLatin1(text) << false << Fault{};
    };
    good("silent", FaultKind::Silent, 0);
    good("delay", FaultKind::Delay, 0);
    good("delay:1000", FaultKind::Delay, 1000);
    good("short:3", FaultKind::ShortReply, 3);
    good("long:2", FaultKind::LongReply, 2);
    good("trickle:10", FaultKind::Trickle, 10);
    good(" Silent ", FaultKind::Silent, 0);
    good("delay:600000", FaultKind::Delay, 600000);

    bad("unknown", "bogus");
    bad("prefix of a name", "sil");
    bad("number on a plain fault", "silent:3");
    bad("zero", "delay:0");
    bad("too large", "delay:600001");
}

void TestModuleModel::parseFault() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(Fault, fault);

    const std::optional<Fault> parsed = ModuleModel::parseFault(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(parsed->kind, fault.kind);
        QCOMPARE(parsed->param, fault.param);
    }
}

QTEST_GUILESS_MAIN(TestModuleModel)
#include "tst_module_model.moc"
