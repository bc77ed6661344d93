// Many transactions through the window leave memory, descriptors and timers as they found them.
// ZENTRAVA_SOAK=<n> runs n transactions instead of 1 000.
#include "support/window_fixture.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>

#include <unistd.h>

using namespace zentrava;
using namespace zentrava::test;

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZENTRAVA_ASAN
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ZENTRAVA_ASAN)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

qint64 residentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE) / 1024;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void transactions() {
        const int count = qEnvironmentVariableIsSet("ZENTRAVA_SOAK")
                              ? qEnvironmentVariableIntValue("ZENTRAVA_SOAK")
                              : 1000;
        WindowFixture w;
        QVERIFY(w.openPort());
        // Descriptors, then the timers registered and the timer objects of the window, its
        // serial link and the emulated module, with everything they own now.
        const auto usage = [&] {
            QList<int> u{int(QDir(QStringLiteral("/proc/self/fd")).count()), 0, 0};
            QObjectList objects{w.form.get(), &w.form->serialLink(), w.module.get()};
            for (QObject* root : QObjectList(objects))
                objects += root->findChildren<QObject*>();
            for (QObject* object : objects) {
                u[1] += int(QAbstractEventDispatcher::instance()->registeredTimers(object).size());
                u[2] += qobject_cast<QTimer*>(object) ? 1 : 0;
            }
            return u;
        };
        QSignalSpy receives(&w.form->serialLink(), &SerialLink::OnComm);
        int done = 0;
        // Reads and writes in turn: each write sends back what the read before it showed.
        const auto run = [&](int n) {
            for (const int end = done + n; done < end; ++done) {
                const char* button = kCommandButtons[done % std::size(kCommandButtons)].name;
                receives.clear();
                w.module->clearReceived();
                w.click(button);
                if (!receives.wait(5000) || w.status() != kOk) {
                    qWarning("transaction %d (%s) ended with %s", done, button,
                             qPrintable(w.status()));
                    return false;
                }
            }
            return true;
        };
        QVERIFY(run(100)); // warm-up
        const QList<int> start = usage();
        const qint64 startKb = residentKb();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run(count));
        qInfo("%d transactions, %.3f ms each", count, double(clock.elapsed()) / count);
        qInfo("RSS %lld -> %lld kB", startKb, residentKb());
        QCOMPARE(usage(), start);
        QCOMPARE(w.enabledCommandButtons(), 12);
        // Freed memory stays in the sanitizer's quarantine; its leak check covers that build.
        if (!kAddressSanitizer)
            QVERIFY2(residentKb() - startKb <= 2048,
                     qPrintable(QStringLiteral("grew %1 kB").arg(residentKb() - startKb)));
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
