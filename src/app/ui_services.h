#pragma once

#include <QString>
#include <QUrl>

#include <optional>

class QWidget;

namespace zentrava {

// Modal message boxes, the desktop launcher and the clipboard each sit behind one small
// interface, so tests record what would happen instead of blocking on a modal box.

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A warning with one OK button, titled "Zentrava"; returns when the operator closed it.
    virtual void warn(QWidget* parent, const QString& text) = 0;
};

class Launcher {
public:
    virtual ~Launcher() = default;
    virtual void openUrl(const QUrl& url) = 0;
};

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Empty optional: the clipboard could not be read. Empty text: it holds no text.
    virtual std::optional<QString> text() = 0;
    virtual bool setText(const QString& text) = 0;
};

struct UiServices {
    MessageSink* messages = nullptr;
    Launcher* launcher = nullptr;
    Clipboard* clipboard = nullptr;
};

class QtMessageSink final : public MessageSink {
public:
    void warn(QWidget* parent, const QString& text) override;
};

class QtLauncher final : public Launcher {
public:
    void openUrl(const QUrl& url) override;
};

class QtClipboard final : public Clipboard {
public:
    std::optional<QString> text() override;
    bool setText(const QString& text) override;
};

} // namespace zentrava
