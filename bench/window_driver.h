#pragma once

#include "line_module.h"

#include "app/form1.h"

#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

namespace zentrava::bench {

// Ends the benchmark with a message: a round that went wrong measures nothing.
[[noreturn]] void fail(const std::string& text);

// Before the QApplication: scripts/bench.sh brings a display; without one the window still
// runs, just unseen.
void useOffscreenWithoutDisplay();

// The real window with COM1 on a line module, opened once and then clicked button by button.
class WindowDriver : public QObject {
public:
    struct Click {
        std::int64_t releaseNs = 0; // the click's release, which fires the button
        std::int64_t shownNs = 0;   // "Success!" set, right after the window's own handlers
        std::int64_t paintedNs = 0; // the status panel painted after that; 0 if it never was
    };

    explicit WindowDriver(LineModule& module);
    ~WindowDriver() override;

    void open();
    // Clicks `name` and waits for "Success!" and its paint; anything else fails the benchmark.
    Click click(const char* name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPushButton* button(const char* name) const;

    LineModule& m_module;
    std::unique_ptr<MessageSink> m_messages;
    std::unique_ptr<Form1> m_window;
    QLabel* m_panel = nullptr;
    QTimer m_guardTimer;
    bool m_waiting = false;
    bool m_guard = false;
    std::int64_t m_shownNs = 0;
    std::int64_t m_paintedNs = 0;
};

} // namespace zentrava::bench
