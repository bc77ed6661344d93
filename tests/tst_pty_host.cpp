#include "emulator/pty_host.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

using namespace zentrava::emu;

Q_DECLARE_METATYPE(zentrava::emu::Fault)

namespace {

const QByteArray kReadChannel = QByteArray::fromHex("af af 00 00 af 80 06 02 00 00 95 0d 0a");
const QByteArray kChannel17Reply = QByteArray::fromHex("af af 00 00 af 00 06 02 11 00 26 0d 0a");

// The tool's side of the line, set up the way the tool opens the module.
class Client {
public:
    bool open(const QString& path) {
        port.setPortName(path);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] {
            got += port.readAll();
            ++reads;
        });
        return port.open(QIODevice::ReadWrite);
    }

    QSerialPort port;
    QByteArray got;
    int reads = 0;
};

} // namespace

class TestPtyHost : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void answersRequest();
    void slowRepliesArriveWhole_data();
    void slowRepliesArriveWhole();
    void silentRequestGetsNoReply();
    void receivedAndWriteRaw();
    void clientCanReopen();
    void vanishFailsClient_data();
    void vanishFailsClient();

private:
    PtyHost* host_ = nullptr;
    Client* client_ = nullptr;
};

void TestPtyHost::init() {
    host_ = new PtyHost;
    QString error;
    QVERIFY2(host_->open(&error), qPrintable(error));
    QVERIFY(host_->devicePath().startsWith(QLatin1String("/dev/")));
    host_->model().settings().channel = 17;
    client_ = new Client;
    QVERIFY2(client_->open(host_->devicePath()), qPrintable(client_->port.errorString()));
}

void TestPtyHost::cleanup() {
    delete client_;
    delete host_;
    client_ = nullptr;
    host_ = nullptr;
}

void TestPtyHost::answersRequest() {
    QSignalSpy requests(host_, &PtyHost::requestReceived);
    QSignalSpy sent(host_, &PtyHost::replySent);

    client_->port.write(kReadChannel);
    QTRY_COMPARE(client_->got, kChannel17Reply);
    QCOMPARE(host_->received(), kReadChannel);
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests[0][0].toByteArray(), kReadChannel);
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent[0][0].toByteArray(), kChannel17Reply);
}

void TestPtyHost::slowRepliesArriveWhole_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("severalReads");

    QTest::newRow("delay") << Fault{FaultKind::Delay, 200} << false;
    QTest::newRow("trickle") << Fault{FaultKind::Trickle, 20} << true;
    QTest::newRow("paced") << Fault{FaultKind::Paced, 0} << false;
}

void TestPtyHost::slowRepliesArriveWhole() {
    QFETCH(Fault, fault);
    QFETCH(bool, severalReads);

    host_->model().setFault(fault);
    QSignalSpy requests(host_, &PtyHost::requestReceived);
    QSignalSpy sent(host_, &PtyHost::replySent);

    client_->port.write(kReadChannel);
    QVERIFY(requests.wait());
    // Nothing may go out whole while the request is still being handled.
    QCOMPARE(sent.count(), 0);
    QVERIFY(sent.wait());
    QTRY_COMPARE(client_->got, kChannel17Reply);
    if (severalReads)
        QVERIFY2(client_->reads > 1, qPrintable(QString::number(client_->reads)));
}

void TestPtyHost::silentRequestGetsNoReply() {
    host_->model().queueFault({FaultKind::Silent, 0});
    QSignalSpy requests(host_, &PtyHost::requestReceived);
    QSignalSpy sent(host_, &PtyHost::replySent);

    client_->port.write(kReadChannel + kReadChannel);
    QTRY_COMPARE(requests.count(), 2);
    QTRY_COMPARE(client_->got, kChannel17Reply);
    QCOMPARE(sent.count(), 1);
}

void TestPtyHost::receivedAndWriteRaw() {
    QSignalSpy chunks(host_, &PtyHost::bytesReceived);
    QSignalSpy discarded(host_, &PtyHost::bytesDiscarded);
    const QByteArray junk = QByteArray::fromHex("01 02 03");

    client_->port.write(junk);
    client_->port.write(kReadChannel.left(4));
    client_->port.write(kReadChannel.mid(4));
    QTRY_COMPARE(host_->received(), junk + kReadChannel);
    QTRY_COMPARE(client_->got, kChannel17Reply);

    QByteArray joined;
    for (const QList<QVariant>& args : chunks)
        joined += args[0].toByteArray();
    QCOMPARE(joined, junk + kReadChannel);
    QCOMPARE(discarded.count(), 1);
    QCOMPARE(discarded[0][0].toByteArray(), junk);

    host_->clearReceived();
    QCOMPARE(host_->received(), QByteArray());

    client_->got.clear();
    const QByteArray handMade = QByteArray::fromHex("af af 00 00 af 00 06 02 21 00 00 0d 0a ff");
    host_->writeRaw(handMade);
    QTRY_COMPARE(client_->got, handMade);
    QCOMPARE(host_->received(), QByteArray());
}

void TestPtyHost::clientCanReopen() {
    client_->port.close();
    delete client_;
    client_ = new Client;
    QVERIFY2(client_->open(host_->devicePath()), qPrintable(client_->port.errorString()));

    client_->port.write(kReadChannel);
    QTRY_COMPARE(client_->got, kChannel17Reply);
}

void TestPtyHost::vanishFailsClient_data() {
    QTest::addColumn<bool>("byFault");

    QTest::newRow("vanish()") << false;
    QTest::newRow("vanish fault") << true;
}

void TestPtyHost::vanishFailsClient() {
    QFETCH(bool, byFault);

    QSignalSpy vanished(host_, &PtyHost::vanished);
    QSignalSpy errors(&client_->port, &QSerialPort::errorOccurred);
    if (byFault) {
        host_->model().setFault({FaultKind::Vanish, 0});
        client_->port.write(kReadChannel);
    } else {
        host_->vanish();
    }
    QTRY_COMPARE(vanished.count(), 1);
    QVERIFY(!host_->isOpen());
    QTRY_VERIFY(client_->port.error() != QSerialPort::NoError);
    QVERIFY(!errors.isEmpty());
    QCOMPARE(client_->got, QByteArray());
}

QTEST_GUILESS_MAIN(TestPtyHost)
#include "tst_pty_host.moc"
