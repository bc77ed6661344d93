#include "window_driver.h"

#include "core/serial_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zentrava::bench {

namespace {

constexpr int kGuardMs = 2000;
constexpr int kPaintWaitMs = 200;

// Any box the window would show is a failed round here, never a wait for an operator.
class FailingMessages final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override {
        fail("the window warned: " + text.toStdString());
    }
};

} // namespace

void fail(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str());
    std::fflush(stdout);
    std::exit(1);
}

void useOffscreenWithoutDisplay() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

WindowDriver::WindowDriver(LineModule& module)
    : m_module(module), m_messages(std::make_unique<FailingMessages>()) {
    PortMap map;
    map.set(1, QString::fromStdString(module.devicePath()), QStringLiteral("line module"));
    m_window = std::make_unique<Form1>(map, UiServices{m_messages.get(), nullptr, nullptr});
    // Connected after the window's own handlers, so it runs right after the reply was shown.
    connect(&m_window->serialLink(), &SerialLink::OnComm, this, [this] {
        if (m_waiting) {
            m_shownNs = monotonicNs();
            m_waiting = false;
        }
    });
    m_panel = m_window->findChild<QLabel*>(QStringLiteral("panel2"));
    if (!m_panel)
        fail("the window has no status panel");
    m_panel->installEventFilter(this);
    m_guardTimer.setSingleShot(true);
    m_guardTimer.setInterval(kGuardMs);
    connect(&m_guardTimer, &QTimer::timeout, this, [this] { m_guard = true; });
}

WindowDriver::~WindowDriver() = default;

void WindowDriver::open() {
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get()))
        fail("the window was never shown");
    QTest::mouseClick(button("comopen"), Qt::LeftButton);
    if (!m_window->serialLink().portOpen())
        fail("the window did not open " + m_module.devicePath());
    QCoreApplication::processEvents();
}

WindowDriver::Click WindowDriver::click(const char* name) {
    QPushButton* target = button(name);
    if (!target->isEnabled())
        fail(std::string(name) + " is not enabled");
    m_shownNs = 0;
    m_paintedNs = 0;
    m_waiting = true;
    m_guard = false;
    m_guardTimer.start();
    // A button acts on release: the press, and Qt's repaint of the pressed button, come before
    // it as the operator's finger goes down, and are not part of the request.
    QTest::mousePress(target, Qt::LeftButton);
    QCoreApplication::processEvents();
    Click click;
    click.releaseNs = monotonicNs();
    QTest::mouseRelease(target, Qt::LeftButton);
    while (m_waiting && !m_guard)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_guardTimer.stop();
    const QString shown = m_window->panelText(2);
    if (m_waiting || shown != QLatin1String("Success!"))
        fail(std::string(name) + ": the status shows \"" + shown.toStdString() + "\"");
    click.shownNs = m_shownNs;
    // Each click starts from rest: the reply shown and painted.
    QElapsedTimer paintWait;
    paintWait.start();
    while (m_paintedNs == 0 && paintWait.elapsed() < kPaintWaitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    click.paintedNs = m_paintedNs;
    return click;
}

bool WindowDriver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_panel && event->type() == QEvent::Paint && m_shownNs != 0 && m_paintedNs == 0)
        m_paintedNs = monotonicNs();
    return false;
}

QPushButton* WindowDriver::button(const char* name) const {
    auto* found = m_window->findChild<QPushButton*>(QLatin1String(name));
    if (!found)
        fail(std::string("no button ") + name);
    return found;
}

} // namespace zentrava::bench
