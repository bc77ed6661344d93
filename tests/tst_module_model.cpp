// The emulated module alone: the requests it finds among malformed bytes and the fault texts it
// takes. Its answers are read through kt7720ctl (tst_cli) and its faults' effects in tst_session.
#include "emulator/module_model.h"

#include <QTest>

using namespace zentrava::emu;

namespace {

const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
// A frame from the bytes between its fixed head and its CR LF.
const auto frame = [](const char* body) { return hex("afaf0000af") + hex(body) + hex("0d0a"); };
const QByteArray kReadChannel = frame("80 06 02 00 00 95");

} // namespace

class TestModuleModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
