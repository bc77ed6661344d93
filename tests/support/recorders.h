#pragma once

#include "app/ui_services.h"

#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>

namespace zentrava::test {

// Stands in for modal boxes: remembers each message instead of waiting for an operator. With
// `whileUp` set, the box stays up, running its own event loop as a modal box does, while
// `whileUp` runs once.
class RecordingMessages final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override {
        messages.append(text);
        if (!whileUp)
            return;
        QEventLoop box;
        QTimer::singleShot(0, &box, [&] {
            std::exchange(whileUp, {})();
            box.quit();
        });
        box.exec();
    }
    QStringList messages;
    std::function<void()> whileUp;
};

class RecordingLauncher final : public Launcher {
public:
    void openUrl(const QUrl& url) override { urls.append(url); }
    QList<QUrl> urls;
};

class FakeClipboard final : public Clipboard {
public:
    std::optional<QString> text() override {
        if (!readable)
            return std::nullopt;
        return content;
    }
    bool setText(const QString& text) override {
        if (!writable)
            return false;
        content = text;
        return true;
    }
    QString content;
    bool readable = true;
    bool writable = true;
};

struct Recorders {
    RecordingMessages messages;
    RecordingLauncher launcher;
    FakeClipboard clipboard;
    UiServices services() { return {&messages, &launcher, &clipboard}; }
};

} // namespace zentrava::test
