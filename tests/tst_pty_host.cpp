// The emulator's pseudo-terminal as the tool's port meets it; its faults go through the fault
// matrices.
#include "emulator/pty_host.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace zentrava::emu;

const QByteArray kReadChannel = QByteArray::fromHex("af af 00 00 af 80 06 02 00 00 95 0d 0a");
const QByteArray kChannel17Reply = QByteArray::fromHex("af af 00 00 af 00 06 02 11 00 26 0d 0a");

class TestPtyHost : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyHost> host;
    std::unique_ptr<QSerialPort> port; // the tool's side; its defaults are the tool's 9600,n,8,1
    QByteArray got;

    bool connectPort() {
        port = std::make_unique<QSerialPort>(host->devicePath());
        got.clear();
        connect(port.get(), &QSerialPort::readyRead, this, [this] { got += port->readAll(); });
        return port->open(QIODevice::ReadWrite);
    }

private Q_SLOTS:
    void init() {
        host = std::make_unique<PtyHost>();
        QString error;
        QVERIFY2(host->open(&error), qPrintable(error));
        host->model().settings().channel = 17;
        QVERIFY2(connectPort(), qPrintable(port->errorString()));
    }

    void cleanup() {
        port.reset();
        host.reset();
    }

    void answersAndRecordsTheLine() {
        QSignalSpy discarded(host.get(), &PtyHost::bytesDiscarded);
        QSignalSpy requests(host.get(), &PtyHost::requestReceived);
        QSignalSpy sent(host.get(), &PtyHost::replySent);
        const QByteArray junk = QByteArray::fromHex("01 02 03");
        port->write(junk + kReadChannel.left(4));
        port->write(kReadChannel.mid(4));
        QTRY_COMPARE(got, kChannel17Reply);
        QCOMPARE(host->received(), junk + kReadChannel);
        QCOMPARE(discarded, QList<QVariantList>{{junk}});
        QCOMPARE(requests, QList<QVariantList>{{kReadChannel}});
        QCOMPARE(sent, QList<QVariantList>{{kChannel17Reply}});

        host->clearReceived();
        got.clear();
        const QByteArray handMade =
            QByteArray::fromHex("af af 00 00 af 00 06 02 21 00 00 0d 0a ff");
        host->writeRaw(handMade);
        QTRY_COMPARE(got, handMade);
        QCOMPARE(host->received(), QByteArray());

        port.reset(); // a client that comes back after closing is answered as before
        QVERIFY(connectPort());
        port->write(kReadChannel);
        QTRY_COMPARE(got, kChannel17Reply);
    }
};

QTEST_GUILESS_MAIN(TestPtyHost)
#include "tst_pty_host.moc"
