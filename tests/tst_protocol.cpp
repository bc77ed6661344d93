#include "core/command_frame.h"
#include "core/frequency.h"
#include "core/line_settings.h"
#include "core/number_text.h"

#include <QtTest>

using namespace zentrava;

class tst_Protocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frames_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("frame");
        auto row = [](const char* name, int code, const char* payload, const char* frame) {
            QTest::newRow(name) << code << QByteArray(payload) << QByteArray(frame);
        };
        row("read serial", 2, "", "afaf0000af8002020000910d0a");
        row("read data rate", 4, "", "afaf0000af8004020000930d0a");
        row("read channel", 6, "", "afaf0000af8006020000950d0a");
        row("read id", 10, "", "afaf0000af800a020000990d0a");
        row("read power", 12, "", "afaf0000af800c0200009b0d0a");
        row("read frequency", 14, "", "afaf0000af800e04000000009f0d0a");
        row("write serial 115200 o", 1, "0802", "afaf0000af80010208029a0d0a");
        row("write data rate 9600", 3, "0400", "afaf0000af8003020400960d0a");
        row("write channel 5", 5, "0500", "afaf0000af8005020500990d0a");
        row("write id 12345, high byte first", 9, "3039", "afaf0000af8009023039010d0a");
        row("write power 127, sum wraps", 11, "7f00", "afaf0000af800b027f00190d0a");
        row("write frequency 868", 13, "380eeeee", "afaf0000af800d04380eeeeec00d0a");
    }

    void frames() {
        QFETCH(int, code);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, frame);
        QCOMPARE(buildCommandFrame(CommandCode(code), QByteArray::fromHex(payload)).toHex(), frame);
        QCOMPARE(frameLength(code), frame.size() / 2);
    }

    void encodeFrequencyTable_data() {
        QTest::addColumn<double>("mhz");
        QTest::addColumn<QByteArray>("word");
        QTest::newRow("868") << 868.0 << QByteArray("380eeeee");
        QTest::newRow("868.5") << 868.5 << QByteArray("380f3333");
        QTest::newRow("875") << 875.0 << QByteArray("390aaaaa");
        QTest::newRow("86") << 86.0 << QByteArray("040ddddd");
        // Exact multiples of 15 MHz carry into the integer byte instead of losing a unit.
        QTest::newRow("855") << 855.0 << QByteArray("38080000");
        QTest::newRow("870") << 870.0 << QByteArray("39080000");
    }

    void encodeFrequencyTable() {
        QFETCH(double, mhz);
        QFETCH(QByteArray, word);
        const FrequencyWord w = encodeFrequency(mhz);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(w.data()), 4).toHex(), word);
    }

    void encodeFrequencyStaysWithinOneStep() {
        const double step = 15.0 / 524288.0;
        for (int i = 0; i <= 40000; ++i) {
            const double mhz = 855.0 + i * 0.0005;
            const FrequencyWord word = encodeFrequency(mhz);
            const double back = decodeFrequency(word);
            QVERIFY2(back <= mhz + 1e-9 && back >= mhz - step - 1e-9 && word[1] >= 0x08 &&
                         word[1] <= 0x0F,
                     qPrintable(QString::number(mhz, 'f', 4)));
        }
    }

    // Read, shown, written back: the module must keep exactly the word it had, for every step
    // of the band, or each Read and Write would move it.
    void shownFrequencyWritesBackTheSameWord() {
        const std::int64_t first = 855 * kFractionOne / 15;
        const std::int64_t last = 875 * kFractionOne / 15;
        int drifted = 0;
        QString example;
        for (std::int64_t steps = first; steps <= last; ++steps) {
            const std::int64_t units = steps / kFractionOne;
            const std::int64_t fraction = steps - (units - 1) * kFractionOne;
            const FrequencyWord word{quint8(units - 1), quint8(fraction >> 16),
                                     quint8(fraction >> 8), quint8(fraction)};
            const QString shown = formatFrequency(decodeFrequency(word));
            const std::optional<double> typed = parseDecimal(shown);
            if (!typed || encodeFrequency(*typed) != word) {
                if (drifted++ == 0)
                    example = shown;
            }
        }
        QVERIFY2(drifted == 0,
                 qPrintable(QStringLiteral("%1 words drift, e.g. %2").arg(drifted).arg(example)));
    }

    void decodeFrequencyText_data() {
        QTest::addColumn<uint>("word");
        QTest::addColumn<QString>("text");
        auto row = [](uint word, const char* text) {
            QTest::addRow("%08x", word) << word << QString(text);
        };
        row(0x39000000, "855");
        row(0x3906eeef, "868.000001907349");
        row(0x380eeeee, "867.999973297119");
        row(0xffffffff, "4304.99997138977");
        row(0x00000001, "0.0000286102294921875"); // no exponent
        row(0x00000000, "0");
    }

    void decodeFrequencyText() {
        QFETCH(uint, word);
        QFETCH(QString, text);
        const FrequencyWord w{quint8(word >> 24), quint8(word >> 16), quint8(word >> 8),
                              quint8(word)};
        QCOMPARE(formatFrequency(decodeFrequency(w)), text);
    }

    // Each text through the three readers the window uses: a byte for the lists, a product
    // id, and the leading number the frequency box goes by. -1: refused.
    void numberTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("id");
        QTest::addColumn<double>("leading");
        auto row = [](const char* text, int byte, int id, double leading) {
            QTest::newRow(text) << QString::fromLatin1(text) << byte << id << leading;
        };
        row("2.5", 2, -1, 2.5);
        row("3.5", 4, -1, 3.5);
        row(".5", 0, -1, 0.5);
        row(" 40 ", 40, -1, 40);
        row("+7", 7, -1, 7);
        row("-0.4", 0, -1, -0.4);
        row("2.55E2", 255, -1, 255);
        row("255.4", 255, -1, 255.4);
        row("255.5", -1, -1, 255.5);
        row("-1", -1, -1, -1);
        row("00258", -1, 258, 258);
        row("65535", -1, 65535, 65535);
        row("65536", -1, -1, 65536);
        row("00000", 0, -1, 0);
        row("", -1, -1, 0);
        row(" ", -1, -1, 0);
        row("abc", -1, -1, 0);
        row(".", -1, -1, 0);
        row("5x", -1, -1, 5);
        row("9e", -1, -1, 9);
        row("1 2", -1, -1, 12);
        row("0x10", -1, -1, 0);
        row("inf", -1, -1, 0);
        row("nan", -1, -1, 0);
        row("1e999", -1, -1, qInf());
        row("4,5", -1, -1, 4);
    }

    void numberTexts() {
        QFETCH(QString, text);
        QFETCH(int, byte);
        QFETCH(int, id);
        QFETCH(double, leading);
        const std::optional<std::uint8_t> asByte = byteFromText(text);
        const std::optional<std::uint16_t> asId = productIdFromText(text);
        QCOMPARE(asByte ? int(*asByte) : -1, byte);
        QCOMPARE(asId ? int(*asId) : -1, id);
        QCOMPARE(leadingNumberValue(text), leading);
    }

    void lineSettings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("start-up") << "9600,n,8,1" << true;
        QTest::newRow("trailing blank") << "9600,n,8,1 " << true;
        QTest::newRow("missing field") << "9600,n,8" << false;
        QTest::newRow("bad parity") << "9600,x,8,1" << false;
        QTest::newRow("bad baud") << "fast,n,8,1" << false;
        QTest::newRow("signed baud") << "+9600,n,8,1" << false;
        QTest::newRow("bad data bits") << "9600,n,9,1" << false;
        QTest::newRow("empty") << "" << false;
    }

    void lineSettings() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<LineSettings> settings = parseLineSettings(text);
        QCOMPARE(settings.has_value(), valid);
        if (valid) {
            QCOMPARE(settings->baudRate, 9600);
            QCOMPARE(settings->parity, QSerialPort::NoParity);
            QCOMPARE(settings->dataBits, QSerialPort::Data8);
            QCOMPARE(settings->stopBits, QSerialPort::OneStop);
        }
    }
};

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
