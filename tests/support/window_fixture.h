#pragma once

#include "app/form1.h"
#include "emulator/pty_host.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace zentrava::test {

// The window's services, recording what it asks; a box with `whileUp` set runs that once
// inside its own event loop, as a modal box does.
class Recorders final : public MessageSink, public Launcher, public Clipboard {
public:
    void warn(QWidget*, const QString& text) override {
        messages.append(text);
        QEventLoop box;
        QTimer::singleShot(0, &box, [&] { std::exchange(whileUp, {})(), box.quit(); });
        if (whileUp)
            box.exec();
    }
    void openUrl(const QUrl& url) override { urls.append(url); }
    std::optional<QString> text() override {
        return readable ? std::optional(content) : std::nullopt;
    }
    bool setText(const QString& text) override {
        return (content = writable ? text : content), writable;
    }
    UiServices services() { return {this, this, this}; }

    QStringList messages;
    std::function<void()> whileUp;
    QList<QUrl> urls;
    QString content; // of the clipboard
    bool readable = true, writable = true;
};

inline constexpr int kWaitMs = 5000; // a loaded machine may stall far beyond the module's time

// The window's words, exactly as the operator sees them.
inline const QString kOk = QStringLiteral("Success!");
inline const QString kFail = QStringLiteral("Fail!");
inline const QString kTimeOut = QStringLiteral("Time out!");
inline const QString kWaiting = QStringLiteral(".....");
inline const QString kDeviceError = QStringLiteral("Serial device error\uFF01");
inline const QString kInvalid = QStringLiteral("Invalid argument,please check-outs!");
inline const QString kAlreadyOpen = QStringLiteral("Port already opened,please check-ups\uFF01");
inline const QString kNotAvailable = QStringLiteral("Port is not available\uFF01");

// Each command button, the code it sends and the boxes its reply fills; a Read, then its Write.
struct CommandButton {
    const char* name;
    CommandCode code;
    const char* controls;
};
inline constexpr CommandButton kCommandButtons[] = {
    {"readchannel", command::kReadFrequency, "TXfrequency"},
    {"writechannel", command::kWriteFrequency, "TXfrequency"},
    {"readid", command::kReadId, "id"},
    {"writeid", command::kWriteId, "id"},
    {"Command1", command::kReadChannel, "Combo1"},
    {"Command2", command::kWriteChannel, "Combo1"},
    {"readdatarate", command::kReadDataRate, "datarate"},
    {"writedatarate", command::kWriteDataRate, "datarate"},
    {"readserial", command::kReadSerial, "sbaudrate/scheckbits"},
    {"writeserial", command::kWriteSerial, "sbaudrate/scheckbits"},
    {"Command3", command::kReadPower, "Combo2"},
    {"Command4", command::kWritePower, "Combo2"}};
inline const CommandButton& buttonNamed(const QString& name) {
    return *std::find_if(std::begin(kCommandButtons), std::end(kCommandButtons),
                         [&](const CommandButton& b) { return name == QLatin1String(b.name); });
}

// The real window with the emulated module on a pseudo-terminal mapped as COM1.
class WindowFixture {
public:
    explicit WindowFixture(bool withModule = true) {
        PortMap map;
        if (withModule) {
            module = std::make_unique<emu::PtyHost>();
            if (QString error; !module->open(&error))
                qFatal("no pseudo-terminal: %s", qPrintable(error));
            map.set(1, module->devicePath(), QStringLiteral("emulated KT7720"));
        }
        rebuild(map);
    }

    // A new window on `map`, or on `link`; the old one lets go of its port first.
    void rebuild(const PortMap& map, std::unique_ptr<SerialLink> link = nullptr) {
        form.reset();
        form = std::make_unique<Form1>(map, recorders.services(), std::move(link));
    }

    template <typename T = QWidget> T* widget(const char* name) const {
        T* found = form->findChild<T*>(QLatin1String(name));
        return found ? found : (qFatal("no widget %s", name), nullptr);
    }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }
    QComboBox* combo(const char* name) const { return widget<QComboBox>(name); }
    QTimer* timer2() const { return widget<QTimer>("Timer2"); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // The boxes named "a/b": an editable combo's line edit or a plain text box.
    QList<QLineEdit*> boxes(const QString& names) const {
        QList<QLineEdit*> found;
        for (const QString& name : names.split(u'/')) {
            auto* box = form->findChild<QComboBox*>(name);
            found << (box ? box->lineEdit() : form->findChild<QLineEdit*>(name));
        }
        return found;
    }
    QString boxTexts(const QString& names) const {
        QStringList texts;
        for (const QLineEdit* box : boxes(names))
            texts << box->text();
        return texts.join(u'/');
    }
    void setBoxTexts(const QString& names, const QString& texts) {
        const QList<QLineEdit*> found = boxes(names);
        for (int i = 0; i < found.size(); ++i)
            found[i]->setText(texts.split(u'/').value(i));
    }

    // Opens COM1 through the port button; true when the port is open.
    bool openPort() {
        click("comopen");
        return form->serialLink().portOpen();
    }
    int enabledCommandButtons() const {
        return int(std::count_if(std::begin(kCommandButtons), std::end(kCommandButtons),
                                 [this](auto& b) { return button(b.name)->isEnabled(); }));
    }
    QString status() const { return form->panelText(2); }

    // Everything an exchange leaves behind, with the texts of `controls`, in one line.
    QString state(const QString& controls) const {
        return line(status(), boxTexts(controls), enabledCommandButtons(), form->pendingCommand,
                    form->serialLink().portOpen(), button("comopen")->text(), form->panelText(1),
                    timer2()->isActive(), messages());
    }
    // The state as it must be with `status` shown; a closed port is one that was lost or failed.
    static QString expected(const QString& status, const QString& texts, int pending,
                            bool open = true, const QStringList& messages = {}) {
        const bool waiting = status == kWaiting;
        return line(status, texts, open && !waiting ? 12 : 0, pending, open,
                    open ? "Close" : "Open", open ? "Opened 9600,n,8,1" : "Closed 9600,n,8,1",
                    waiting, messages);
    }
    static QString line(const QString& status, const QString& texts, int buttons, int pending,
                        bool open, const QString& caption, const QString& panel1, bool timer,
                        const QStringList& messages) {
        return QStringLiteral(
                   "%1 | %2 | %3 buttons | pending %4 | port %5 | %6 | %7 | Timer2 %8 | %9")
            .arg(status, texts, QString::number(buttons), QString::number(pending),
                 QLatin1String(open ? "open" : "closed"), caption, panel1,
                 QLatin1String(timer ? "running" : "stopped"), messages.join(u'+'));
    }
    QByteArray wire() const { return module->received(); }
    QStringList& messages() const { return recorders.messages; }

    mutable Recorders recorders;
    std::unique_ptr<emu::PtyHost> module;
    std::unique_ptr<Form1> form;
};

} // namespace zentrava::test
