#include "protocol/command_frame.h"
#include "protocol/frequency.h"
#include "protocol/number_text.h"
#include "protocol/reply_frame.h"
#include "serial/line_settings.h"

#include <QtTest>

#include <cmath>

using namespace zentrava;

class tst_Protocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void frames_data();
    void frames();
    void replyLayout_data();
    void replyLayout();
    void encodeFrequencyTable_data();
    void encodeFrequencyTable();
    void encodeFrequencyStaysWithinOneStep();
    void decodeFrequencyText_data();
    void decodeFrequencyText();
    void decimalTexts_data();
    void decimalTexts();
    void leadingNumber_data();
    void leadingNumber();
    void productIds_data();
    void productIds();
    void lineSettings_data();
    void lineSettings();
};

void tst_Protocol::frames_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    auto row = [](const char* name, int code, const char* payload, const char* frame) {
        QTest::newRow(name) << code << QByteArray::fromHex(payload) << QByteArray::fromHex(frame);
    };
    row("read serial", 2, "", "afaf0000af8002020000910d0a");
    row("read data rate", 4, "", "afaf0000af80040200 00930d0a");
    row("read channel", 6, "", "afaf0000af80060200 00950d0a");
    row("read id", 10, "", "afaf0000af800a0200 00990d0a");
    row("read power", 12, "", "afaf0000af800c0200 009b0d0a");
    row("read frequency", 14, "", "afaf0000af800e04000000009f0d0a");
    row("write channel 5", 5, "0500", "afaf0000af800502050099 0d0a");
    row("write channel 0", 5, "0000", "afaf0000af8005020000940d0a");
    row("write power 127 wraps", 11, "7f00", "afaf0000af800b027f00190d0a");
    row("write power 1", 11, "0100", "afaf0000af800b0201009b0d0a");
    row("write frequency 868", 13, "380eeeee", "afaf0000af800d04380eeeeec00d0a");
    row("write id 1", 9, "0001", "afaf0000af800902000199 0d0a");
    row("write id 12345", 9, "3039", "afaf0000af80090230390 10d0a");
    row("write id 65535", 9, "ffff", "afaf0000af80090 2ffff960d0a");
    row("write data rate 9600", 3, "0400", "afaf0000af80030204009 60d0a");
    row("write data rate 57600", 3, "0700", "afaf0000af8003020700990d0a");
    row("write data rate none", 3, "0000", "afaf0000af8003020000920d0a");
    row("write serial 9600 n", 1, "0400", "afaf0000af8001020400940d0a");
    row("write serial 115200 o", 1, "0802", "afaf0000af80010208029a0d0a");
    row("write serial 1200 e", 1, "0101", "afaf0000af8001020101920d0a");
    row("write serial 19200 o", 1, "0502", "afaf0000af8001020502970d0a");
}

void tst_Protocol::frames() {
    QFETCH(int, code);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    QCOMPARE(buildCommandFrame(CommandCode(code), payload).toHex(' '), frame.toHex(' '));
    QCOMPARE(frameLength(code), frame.size());
}

void tst_Protocol::replyLayout_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pending");
    QTest::addColumn<bool>("valid");
    auto row = [](const char* name, const char* hex, int pending, bool valid) {
        QByteArray buffer = QByteArray::fromHex(hex);
        buffer.resize(11 + payloadLength(pending) + 1, '\0');
        QTest::newRow(name) << buffer << pending << valid;
    };
    row("channel", "afaf0000af000602050099 0d0a", 6, true);
    row("any check byte", "afaf0000af00060205 00 00 0d0a", 6, true);
    row("code mismatch", "afaf0000af0006020500990d0a", 5, false);
    row("request marker", "afaf0000af8006020500990d0a", 6, false);
    row("length 4 for a 2-byte code", "afaf0000af0006040500990d0a", 6, false);
    row("frequency terminator at 13", "afaf0000af000e043906eeef000d0a", 14, true);
    row("frequency terminator at 11", "afaf0000af000e043906ee0d0a0000", 14, false);
    row("zero buffer", "", 6, false);
    for (int position : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12}) {
        QByteArray buffer = QByteArray::fromHex("afaf0000af0006020500990d0a");
        buffer[position] = char(buffer[position] ^ 0x01);
        buffer.resize(14, '\0');
        QTest::addRow("position %d wrong", position) << buffer << 6 << false;
    }
}

void tst_Protocol::replyLayout() {
    QFETCH(QByteArray, reply);
    QFETCH(int, pending);
    QFETCH(bool, valid);
    QCOMPARE(replyLayoutValid(reply, pending), valid);
}

void tst_Protocol::encodeFrequencyTable_data() {
    QTest::addColumn<double>("mhz");
    QTest::addColumn<QByteArray>("word");
    QTest::newRow("868") << 868.0 << QByteArray::fromHex("380eeeee");
    QTest::newRow("868.5") << 868.5 << QByteArray::fromHex("380f3333");
    QTest::newRow("860") << 860.0 << QByteArray::fromHex("380aaaaa");
    QTest::newRow("875") << 875.0 << QByteArray::fromHex("390aaaaa");
    QTest::newRow("86") << 86.0 << QByteArray::fromHex("040ddddd");
    // Exact multiples of 15 MHz carry into the integer byte instead of losing a unit.
    QTest::newRow("855") << 855.0 << QByteArray::fromHex("38080000");
    QTest::newRow("870") << 870.0 << QByteArray::fromHex("39080000");
}

void tst_Protocol::encodeFrequencyTable() {
    QFETCH(double, mhz);
    QFETCH(QByteArray, word);
    const FrequencyWord encoded = encodeFrequency(mhz);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(encoded.data()), 4).toHex(), word.toHex());
}

void tst_Protocol::encodeFrequencyStaysWithinOneStep() {
    const double step = 15.0 / 524288.0;
    for (int i = 0; i <= 40000; ++i) {
        const double mhz = 855.0 + i * 0.0005;
        const FrequencyWord word = encodeFrequency(mhz);
        const double back = decodeFrequency(word);
        if (back > mhz + 1e-9 || back < mhz - step - 1e-9 || word[1] < 0x08 || word[1] > 0x0F)
            QFAIL(qPrintable(
                QStringLiteral("%1 MHz encodes to %2 (%3 MHz)")
                    .arg(mhz, 0, 'f', 4)
                    .arg(QString::fromLatin1(
                        QByteArray(reinterpret_cast<const char*>(word.data()), 4).toHex(' ')))
                    .arg(back, 0, 'f', 9)));
    }
}

void tst_Protocol::decodeFrequencyText_data() {
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QString>("text");
    auto row = [](const char* hex, const char* text) {
        QTest::newRow(hex) << QByteArray::fromHex(hex) << QString::fromLatin1(text);
    };
    row("39000000", "855");
    row("3906eeef", "868.000001907349");
    row("380eeeee", "867.999973297119");
    row("390dddde", "881.000003814697");
    row("3a000000", "870");
    row("39080000", "870");
    row("00000000", "0");
    row("ffffffff", "4304.99997138977");
    row("00000001", "0.0000286102294921875");
    row("380f3333", "868.499994277954");
}

void tst_Protocol::decodeFrequencyText() {
    QFETCH(QByteArray, word);
    QFETCH(QString, text);
    const FrequencyWord w{std::uint8_t(word[0]), std::uint8_t(word[1]), std::uint8_t(word[2]),
                          std::uint8_t(word[3])};
    QCOMPARE(formatFrequency(decodeFrequency(w)), text);
}

void tst_Protocol::decimalTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("byte"); // -1: refused
    auto row = [](const char* text, int byte) {
        QTest::newRow(text) << QString::fromLatin1(text) << byte;
    };
    row("5", 5);
    row("0", 0);
    row("255", 255);
    row("2.5", 2);
    row("3.5", 4);
    row("0.5", 0);
    row(" 40 ", 40);
    row("+7", 7);
    row("1e2", 100);
    row("2.55E2", 255);
    row("255.4", 255);
    row("255.5", -1);
    row("-0.4", 0);
    row("-1", -1);
    row("300", -1);
    row("", -1);
    row(" ", -1);
    row("abc", -1);
    row("5x", -1);
    row("1 2", -1);
    row("0x10", -1);
    row("inf", -1);
    row("nan", -1);
    row("1e999", -1);
    row("4,5", -1);
}

void tst_Protocol::decimalTexts() {
    QFETCH(QString, text);
    QFETCH(int, byte);
    const std::optional<std::uint8_t> value = byteFromText(text);
    QCOMPARE(value.has_value() ? int(*value) : -1, byte);
}

void tst_Protocol::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    auto row = [](const char* text, double value) {
        QTest::newRow(text) << QString::fromLatin1(text) << value;
    };
    row("868", 868);
    row("8 6 8", 868);
    row("868abc", 868);
    row(" 86 0.5x", 860.5);
    row("8.7e2", 870);
    row("9e", 9);
    row("-5", -5);
    row("", 0);
    row("abc", 0);
    row(".", 0);
    row(".5", 0.5);
}

void tst_Protocol::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(leadingNumberValue(text), value);
}

void tst_Protocol::productIds_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("id"); // -1: refused
    auto row = [](const char* text, int id) {
        QTest::newRow(text) << QString::fromLatin1(text) << id;
    };
    row("1", 1);
    row("00258", 258);
    row("65535", 65535);
    row("65536", -1);
    row("99999", -1);
    row("00000", -1);
    row("", -1);
    row("19x", -1);
    row("+5", -1);
    row(" 5", -1);
    row("1.0", -1);
}

void tst_Protocol::productIds() {
    QFETCH(QString, text);
    QFETCH(int, id);
    const std::optional<std::uint16_t> value = productIdFromText(text);
    QCOMPARE(value.has_value() ? int(*value) : -1, id);
}

void tst_Protocol::lineSettings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("start-up") << QStringLiteral("9600,n,8,1") << true;
    QTest::newRow("trailing blank") << QStringLiteral("9600,n,8,1 ") << true;
    QTest::newRow("even 7 2") << QStringLiteral("19200,e,7,2") << true;
    QTest::newRow("missing field") << QStringLiteral("9600,n,8") << false;
    QTest::newRow("bad parity") << QStringLiteral("9600,x,8,1") << false;
    QTest::newRow("bad baud") << QStringLiteral("fast,n,8,1") << false;
    QTest::newRow("bad data bits") << QStringLiteral("9600,n,9,1") << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_Protocol::lineSettings() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const std::optional<LineSettings> settings = parseLineSettings(text);
    QCOMPARE(settings.has_value(), valid);
    if (valid && text.startsWith(QLatin1String("9600")))
        QCOMPARE(settings->baudRate, 9600);
}

QTEST_GUILESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
