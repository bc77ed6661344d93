// Many transactions through the window leave memory, descriptors and timers as they found them.
// ZENTRAVA_SOAK=<n> runs n transactions instead of 1 000.
#include "support/window_fixture.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>

#include <dirent.h>
#include <unistd.h>

using namespace zentrava;
using namespace zentrava::test;

namespace {

constexpr int kWaitMs = 5000;
constexpr int kWarmUp = 100;
constexpr qint64 kRssToleranceKb = 2048;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct Usage {
    qint64 rssKb = 0;
    int descriptors = 0;
    int timers = 0; // registered with the event dispatcher
    int timerObjects = 0;

    QString text() const {
        return QStringLiteral("RSS %1 kB, %2 descriptors, %3 timers running of %4")
            .arg(rssKb)
            .arg(descriptors)
            .arg(timers)
            .arg(timerObjects);
    }
};

qint64 residentKb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE) / 1024;
}

int openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(dir);
    return count - 1; // the listing's own
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
        // The window, its serial link and the emulated module, with everything they own now.
        const auto usage = [&] {
            Usage u{residentKb(), openDescriptors(), 0, 0};
            QObjectList objects{w.form.get(), &w.form->serialLink(), w.module.get()};
            for (QObject* root : QObjectList(objects))
                objects += root->findChildren<QObject*>();
            for (QObject* object : objects) {
                u.timers +=
                    int(QAbstractEventDispatcher::instance()->registeredTimers(object).size());
                u.timerObjects += qobject_cast<QTimer*>(object) ? 1 : 0;
            }
            return u;
        };
        QSignalSpy receives(&w.form->serialLink(), &SerialLink::OnComm);
        int done = 0;
        // Reads and writes in turn: each write sends back what the read before it showed.
        const auto run = [&](int n) {
            for (const int end = done + n; done < end; ++done) {
                const char* button = kCommandButtons[done % std::size(kCommandButtons)];
                receives.clear();
                w.module->clearReceived();
                w.click(button);
                if (!receives.wait(kWaitMs) || w.status() != QLatin1String("Success!")) {
                    qWarning("transaction %d (%s) ended with %s", done, button,
                             qPrintable(w.status()));
                    return false;
                }
            }
            return true;
        };
        QVERIFY(run(kWarmUp));
        const Usage start = usage();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run(count));
        const double msEach = double(clock.elapsed()) / count;
        const Usage end = usage();
        qInfo("%d transactions, %.3f ms each", count, msEach);
        qInfo("start: %s", qPrintable(start.text()));
        qInfo("end:   %s", qPrintable(end.text()));
        QCOMPARE(end.descriptors, start.descriptors);
        QCOMPARE(end.timers, start.timers);
        QCOMPARE(end.timerObjects, start.timerObjects);
        QCOMPARE(w.enabledCommandButtons(), 12);
        // Freed memory stays in the sanitizer's quarantine; its leak check covers that build.
        if (!kAddressSanitizer)
            QVERIFY2(end.rssKb - start.rssKb <= kRssToleranceKb,
                     qPrintable(QStringLiteral("grew %1 kB").arg(end.rssKb - start.rssKb)));
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
