// The emulated module alone: its answers byte for byte, the requests it finds among malformed
// bytes, and the fault texts it takes. What each fault does to a client is in tst_session.
#include "emulator/module_model.h"

#include "core/command_frame.h"

#include <QTest>

using namespace zentrava;
using namespace zentrava::emu;

namespace {

const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
// A frame from the bytes between its fixed head and its CR LF.
const auto frame = [](const char* body) { return hex("afaf0000af") + hex(body) + hex("0d0a"); };
const QByteArray kReadChannel = frame("80 06 02 00 00 95");

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
        const auto row = [](const char* name, const char* request, const char* reply) {
            QTest::newRow(name) << frame(request) << frame(reply);
        };
        row("read serial", "80 02 02 00 00 91", "00 02 02 05 02 18");
        row("read id", "80 0a 02 00 00 99", "00 0a 02 12 34 5f");
        row("read frequency", "80 0e 04 00 00 00 00 9f", "00 0e 04 39 0f 12 34 ad");
        row("write serial, parity 3", "80 01 02 04 03 97", "00 01 02 04 03 17");
        row("write channel 200, not 55", "80 05 02 c8 55 b1", "00 05 02 c8 00 dc");
        row("write id 43981", "80 09 02 ab cd 10", "00 09 02 ab cd 90");
        row("write frequency", "80 0d 04 ff ff ff ff 9a", "00 0d 04 ff ff ff ff 1a");
    }

    void answers() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        ModuleModel model;
        // baud, parity, data rate, channel, power, id, frequency
        model.settings() = {5, 2, 3, 17, 99, 0x1234, {0x39, 0x0F, 0x12, 0x34}};
        QCOMPARE(onlyReply(model, request), reply);
        const int code = request[6], n = payloadLength(code);
        if (code % 2 == 1) // a write: the value stays, even outside the tool's lists
            QCOMPARE(onlyReply(model, buildCommandFrame(CommandCode(code + 1))).mid(8, n),
                     reply.mid(8, n));
    }

    void dropsMalformedFindsRequests_data() {
        QTest::addColumn<QByteArray>("bad"); // dropped; a read of the channel follows it
        QTest::newRow("bad checksum") << frame("80 06 02 00 00 96");
        QTest::newRow("reply marker") << frame("00 06 02 00 00 15");
        QTest::newRow("length 4 for a 2-byte code") << frame("80 06 04 00 00 00 00 97");
        QTest::newRow("unknown code 7") << frame("80 07 02 00 00 96");
        QTest::newRow("CR missing") << hex("af af 00 00 af 80 06 02 00 00 95 00 0a");
        QTest::newRow("cut short") << kReadChannel.chopped(1);
        QTest::newRow("header fragments") << hex("af af af af 00 af af 00 00 af");
    }

    void dropsMalformedFindsRequests() {
        QFETCH(QByteArray, bad);
        const QByteArray bytes = bad + kReadChannel;
        for (const int piece : {int(bytes.size()), 1}) { // all at once, then byte by byte
            ModuleModel model;
            QByteArrayList answered;
            for (int i = 0; i < bytes.size(); i += piece)
                for (const Reply& reply : model.feed(bytes.mid(i, piece)))
                    answered << reply.request;
            QCOMPARE(answered, QByteArrayList{kReadChannel});
            QCOMPARE(model.takeDiscarded(), bad);
        }
    }

    void parseFault_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // as faultText() gives it back; empty: refused
        const QString rows = QStringLiteral(" Silent =silent|delay=delay:1000|sil=|silent:3=|"
                                            "delay:600000=delay:600000|delay:0=|delay:600001=");
        for (const QString& row : rows.split(u'|'))
            QTest::newRow(qPrintable(row)) << row.section(u'=', 0, 0) << row.section(u'=', 1);
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
