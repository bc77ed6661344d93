#pragma once

#include "app/ui_services.h"

#include <QStringList>
#include <QUrl>

#include <optional>

namespace zentrava::test {

// Stands in for modal boxes: remembers each message instead of waiting for an operator.
class RecordingMessages final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override { messages.append(text); }
    QStringList messages;
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
