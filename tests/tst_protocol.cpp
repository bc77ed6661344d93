#include "core/command_frame.h"
#include "core/frequency.h"
#include "core/line_settings.h"
#include "core/module_value.h"
#include "core/number_text.h"
#include "support/frames.h"

#include <QtTest>

using namespace zentrava;
using V = ModuleValue;

Q_DECLARE_METATYPE(zentrava::ModuleValue)

class tst_Protocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each request byte for byte, and the value read back from a reply carrying its payload.
    void frames_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<V>("value");          // what a write carries
        QTest::addColumn<QByteArray>("frame"); // empty: the module has no code for the value
        const auto row = [](const char* name, int code, const V& value, const char* frame) {
            QTest::newRow(name) << code << value << QByteArray::fromHex(frame);
        };
        const auto mhz = [](double mhz) { return V::frequencyWord(encodeFrequency(mhz)); };
        using namespace command;
        row("read channel", kReadChannel, {}, "afaf0000af8006020000950d0a");
        row("read frequency", kReadFrequency, {}, "afaf0000af800e04000000009f0d0a");
        row("serial 1200/e", kWriteSerial, V::serial(1200, 'e'), "afaf0000af8001020101920d0a");
        row("serial 115200/o", kWriteSerial, V::serial(115200, 'o'), "afaf0000af80010208029a0d0a");
        row("data rate 1200", kWriteDataRate, V::dataRate(1200), "afaf0000af8003020100930d0a");
        row("data rate 57600", kWriteDataRate, V::dataRate(57600), "afaf0000af8003020700990d0a");
        row("channel 0", kWriteChannel, V::channel(0), "afaf0000af8005020000940d0a");
        row("channel 255", kWriteChannel, V::channel(255), "afaf0000af800502ff00930d0a");
        row("power 1", kWritePower, V::power(1), "afaf0000af800b0201009b0d0a");
        row("id 1", kWriteId, V::productId(1), "afaf0000af8009020001990d0a");
        row("id 12345", kWriteId, V::productId(12345), "afaf0000af8009023039010d0a");
        row("id 65535", kWriteId, V::productId(65535), "afaf0000af800902ffff960d0a");
        row("855 MHz", kWriteFrequency, mhz(855), "afaf0000af800d0438080000de0d0a");
        row("860 MHz", kWriteFrequency, mhz(860), "afaf0000af800d04380aaaaa340d0a");
        row("868 MHz", kWriteFrequency, mhz(868), "afaf0000af800d04380eeeeec00d0a");
        row("875 MHz", kWriteFrequency, mhz(875), "afaf0000af800d04390aaaaa350d0a");
        row("baud 300", kWriteSerial, V::serial(300, 'n'), "");
        row("parity x", kWriteSerial, V::serial(9600, 'x'), "");
        row("data rate 115200", kWriteDataRate, V::dataRate(115200), "");
        row("channel 256", kWriteChannel, V::channel(256), "");
        row("power -1", kWritePower, V::power(-1), "");
        row("id 65536", kWriteId, V::productId(65536), "");
    }

    void frames() {
        QFETCH(int, code);
        QFETCH(V, value);
        QFETCH(QByteArray, frame);
        const bool write = code % 2 == 1;
        const std::optional<QByteArray> payload = write ? encodePayload(value) : QByteArray();
        QCOMPARE(payload ? buildCommandFrame(CommandCode(code), *payload).toHex() : QByteArray(),
                 frame.toHex());
        // The module answers a write and the read after it with the value it now holds.
        for (const int answered : {code, code + 1})
            QVERIFY(!write || !payload ||
                    decodePayload(CommandCode(answered), test::replyFrame(answered, *payload)) ==
                        value);
    }

    // Read, shown, written back: every word of the band must stay, or each Read/Write moves it.
    void shownFrequencyWritesBackTheSameWord() {
        QStringList drifted;
        for (std::int64_t steps = 855 * kFractionOne / 15; steps <= 875 * kFractionOne / 15;
             ++steps) {
            const std::int64_t units = steps / kFractionOne;
            const std::int64_t fraction = steps - (units - 1) * kFractionOne;
            const FrequencyWord word{quint8(units - 1), quint8(fraction >> 16),
                                     quint8(fraction >> 8), quint8(fraction)};
            const QString shown = formatFrequency(decodeFrequency(word));
            const std::optional<double> typed = parseDecimal(shown);
            if ((!typed || encodeFrequency(*typed) != word) && drifted.size() < 3)
                drifted << shown;
        }
        QCOMPARE(drifted, QStringList());
    }

    // Texts as a list byte, a product ID and the frequency box's leading number; -1: refused.
    // Rows "text byte id leading", "_" a blank.
    void numberTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        const QString rows = QStringLiteral(
            "2.5 2 -1 2.5|3.5 4 -1 3.5|.5 0 -1 0.5|+7 7 -1 7|2.55E2 255 -1 255|255.4 255 -1 255.4|"
            "255.5 -1 -1 255.5|-1 -1 -1 -1|00258 -1 258 258|65535 -1 65535 65535|"
            "65536 -1 -1 65536|00000 0 -1 0|_ -1 -1 0|abc -1 -1 0|5x -1 -1 5|9e -1 -1 9|"
            "1_2 -1 -1 12|0x10 -1 -1 0|inf -1 -1 0|1e999 -1 -1 inf|4,5 -1 -1 4");
        for (QString row : rows.split(u'|')) {
            row.replace(u'_', u' ');
            QTest::newRow(qPrintable(row)) << row.section(u' ', 0, -4) << row.section(u' ', -3);
        }
    }

    void numberTexts() {
        QFETCH(QString, text);
        QFETCH(QString, read);
        const std::optional<std::uint8_t> asByte = byteFromText(text);
        const std::optional<std::uint16_t> asId = productIdFromText(text);
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(asByte ? int(*asByte) : -1)
                     .arg(asId ? int(*asId) : -1)
                     .arg(leadingNumberValue(text)),
                 read);
    }

    // Only the start-up text is ever set; anything else is refused.
    void lineSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("read"); // baud, parity (0: none), data bits, stop bits
        QTest::newRow("start-up") << "9600,n,8,1" << QList<int>{9600, 0, 8, 1};
        QTest::newRow("trailing blank") << "9600,n,8,1 " << QList<int>{9600, 0, 8, 1};
        QTest::newRow("bad parity") << "9600,x,8,1" << QList<int>();
        QTest::newRow("empty") << "" << QList<int>();
    }

    void lineSettings() {
        QFETCH(QString, text);
        QFETCH(QList<int>, read);
        const std::optional<LineSettings> s = parseLineSettings(text);
        const QList<int> got{s ? QList<int>{s->baudRate, s->parity, s->dataBits, s->stopBits}
                               : QList<int>()};
        QCOMPARE(got, read);
    }
};

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
