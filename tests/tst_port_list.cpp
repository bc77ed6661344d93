// The window's port list follows the devices that come and go, through an injected source of
// ports whose devices are pseudo-terminals that really open.
#include "support/window_fixture.h"

#include <QComboBox>

#include <algorithm>
#include <map>

using namespace zentrava;
using namespace zentrava::test;

namespace {

class FakePorts final : public PortSource {
public:
    QList<PortDevice> present;
    QList<PortDevice> devices() const override { return present; }
    void announce() { Q_EMIT changed(); }
};

// Devices named by one letter each; letters follow device paths, so "a" sorts before "b".
class Bench {
public:
    explicit Bench(int count) {
        std::vector<std::unique_ptr<emu::PtyHost>> hosts;
        for (int i = 0; i < count; ++i) {
            hosts.push_back(std::make_unique<emu::PtyHost>());
            if (!hosts.back()->open())
                qFatal("no pseudo-terminal");
        }
        std::sort(hosts.begin(), hosts.end(),
                  [](const auto& x, const auto& y) { return x->devicePath() < y->devicePath(); });
        for (int i = 0; i < count; ++i)
            m_hosts[QChar(u'a' + i)] = std::move(hosts[std::size_t(i)]);
    }

    emu::PtyHost& host(QChar letter) { return *m_hosts.at(letter); }
    PortDevice device(QChar letter) {
        return {host(letter).devicePath(), QStringLiteral("adapter ") + letter, 0};
    }
    QString letterOf(const QString& path) const {
        for (const auto& [letter, host] : m_hosts) {
            if (host->devicePath() == path)
                return letter;
        }
        return QStringLiteral("?");
    }

private:
    std::map<QChar, std::unique_ptr<emu::PtyHost>> m_hosts;
};

// "COM1:a *COM2:b": the entries in order, the current one starred, each with the device its tip
// names; the list's own tip names the current one's. "(no description)" when a tip lacks it.
QString listing(const QComboBox* box, const Bench& bench) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) {
        const bool current = i == box->currentIndex();
        const QString tip = current ? box->toolTip().section(QLatin1Char('\n'), 1)
                                    : box->itemData(i, Qt::ToolTipRole).toString();
        const QString letter = bench.letterOf(tip.section(QLatin1Char(' '), 0, 0));
        entries << (current ? QStringLiteral("*") : QString()) + box->itemText(i) +
                       QLatin1Char(':') + letter +
                       (tip.endsWith(QStringLiteral("adapter ") + letter)
                            ? QString()
                            : QStringLiteral("(no description)"));
    }
    return entries.join(QLatin1Char(' '));
}

} // namespace

class TestPortList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each step is "action -> the list after it"; tst_port_source numbers the devices. Actions:
    // start (the devices present when the window opens), plug and unplug (the system tells),
    // quietly plug (it does not), drop (the list drops down), select, open, close, vanish (the
    // device fails under the open port).
    void follows_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("an adapter plugged in after start-up")
            << QStringList{"start a -> *COM1:a", "plug b -> *COM1:a COM2:b",
                           "select COM2 -> COM1:a *COM2:b", "open -> COM1:a *COM2:b"};
        QTest::newRow("a renumbered entry opens its own device") << QStringList{
            "start a b -> *COM1:a COM2:b", "unplug a -> *COM2:b", "plug c -> COM1:c *COM2:b",
            "select COM1 -> *COM1:c COM2:b", "open -> *COM1:c COM2:b"};
        QTest::newRow("dropping the list down reads it again")
            << QStringList{"start a -> *COM1:a", "quietly plug b -> *COM1:a",
                           "drop -> *COM1:a COM2:b", "unplug a -> *COM2:b"};
        QTest::newRow("nothing changes while the port is open")
            << QStringList{"start a b -> *COM1:a COM2:b", "select COM2 -> COM1:a *COM2:b",
                           "open -> COM1:a *COM2:b",      "plug c -> COM1:a *COM2:b",
                           "unplug a -> COM1:a *COM2:b",  "close -> COM1:c *COM2:b"};
        QTest::newRow("the open port's device vanishes")
            << QStringList{"start a b -> *COM1:a COM2:b", "select COM2 -> COM1:a *COM2:b",
                           "open -> COM1:a *COM2:b",      "vanish b -> *COM1:a",
                           "plug c -> *COM1:a COM2:c",    "select COM2 -> COM1:a *COM2:c",
                           "open -> COM1:a *COM2:c"};
    }

    void follows() {
        QFETCH(QStringList, steps);
        Bench bench(4);
        WindowFixture f(false);
        f.form.reset();
        FakePorts* ports = nullptr;
        for (const QString& step : steps) {
            const QString action = step.section(QStringLiteral(" -> "), 0, 0);
            const QString expected = step.section(QStringLiteral(" -> "), 1);
            const QStringList words = action.split(QLatin1Char(' '));
            const QString verb = words[0] == "quietly" ? words.mid(0, 2).join(' ') : words[0];
            const QStringList letters = words.mid(verb.count(' ') + 1);
            if (verb == "start") {
                auto source = std::make_unique<FakePorts>();
                ports = source.get();
                for (const QString& letter : letters)
                    ports->present.append(bench.device(letter[0]));
                f.form = std::make_unique<Form1>(std::move(source), f.recorders.services());
            } else if (verb == "plug" || verb == "quietly plug") {
                for (const QString& letter : letters)
                    ports->present.append(bench.device(letter[0]));
                if (verb == "plug")
                    ports->announce();
            } else if (verb == "unplug" || verb == "vanish") {
                for (const QString& letter : letters) {
                    const QString path = bench.host(letter[0]).devicePath();
                    ports->present.removeIf([&](const PortDevice& d) { return d.device == path; });
                    if (verb == "vanish")
                        bench.host(letter[0]).vanish();
                }
                ports->announce();
            } else if (verb == "drop") {
                QTest::keyClick(f.combo("comport"), Qt::Key_Down, Qt::AltModifier);
                f.combo("comport")->hidePopup();
            } else if (verb == "select") {
                QComboBox* box = f.combo("comport");
                QVERIFY(box->findText(letters[0]) >= 0);
                box->setCurrentIndex(box->findText(letters[0]));
            } else if (verb == "open") {
                QVERIFY(f.openPort());
                // The link must open the device the entry stands for, however it was numbered.
                const QString shown = listing(f.combo("comport"), bench)
                                          .section(QLatin1Char('*'), 1)
                                          .section(QLatin1Char(' '), 0, 0);
                QCOMPARE(bench.letterOf(f.form->serialLink().deviceName()), shown.section(':', 1));
            } else if (verb == "close") {
                f.click("comopen");
                QVERIFY(!f.form->serialLink().portOpen());
            } else {
                QFAIL(qPrintable("unknown action " + action));
            }
            QTRY_COMPARE(listing(f.combo("comport"), bench), expected);
            QCOMPARE(f.combo("comport")->isEnabled(), !f.form->serialLink().portOpen());
        }
        const bool vanished = steps.filter(QStringLiteral("vanish")).size() > 0;
        QCOMPARE(f.messages(), vanished ? QStringList{kDeviceError} : QStringList());
    }
};

QTEST_MAIN(TestPortList)
#include "tst_port_list.moc"
