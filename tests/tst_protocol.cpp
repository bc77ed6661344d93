#include "core/command_frame.h"
#include "core/frequency.h"
#include "core/line_settings.h"
#include "core/number_text.h"
#include "support/frames.h"

#include <QtTest>

using namespace zentrava;

class tst_Protocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        row(0x3906eeef, "868.000001907349");
        row(0xffffffff, "4304.99997138977");
        row(0x00000001, "0.0000286102294921875"); // no exponent
        row(0x00000000, "0");
    }

    void decodeFrequencyText() {
        QFETCH(uint, word);
        QFETCH(QString, text);
        QCOMPARE(formatFrequency(decodeFrequency(test::frequencyWord(word))), text);
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
