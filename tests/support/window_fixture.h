#pragma once

#include "app/form1.h"
#include "emulator/pty_host.h"
#include "support/recorders.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace zentrava::test {

inline constexpr const char* kCommandButtons[] = {
    "readchannel",  "writechannel",  "readid",     "writeid",     "Command1", "Command2",
    "readdatarate", "writedatarate", "readserial", "writeserial", "Command3", "Command4"};

// The real window with the emulated module on a pseudo-terminal mapped as COM1.
class WindowFixture {
public:
    explicit WindowFixture(bool withModule = true) {
        PortMap map;
        if (withModule) {
            module = std::make_unique<emu::PtyHost>();
            QString error;
            if (!module->open(&error))
                qFatal("no pseudo-terminal: %s", qPrintable(error));
            map.set(1, module->devicePath(), QStringLiteral("emulated KT7720"));
        }
        form = std::make_unique<Form1>(map, recorders.services());
    }

    template <typename T = QWidget> T* widget(const char* name) const {
        T* found = form->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }
    QComboBox* combo(const char* name) const { return widget<QComboBox>(name); }
    QLineEdit* textBox(const char* name) const { return widget<QLineEdit>(name); }

    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // The text boxes named "a/b": an editable combo's line edit or a plain text box.
    QList<QLineEdit*> boxes(const QString& names) const {
        QList<QLineEdit*> found;
        for (const QString& name : names.split(QLatin1Char('/'))) {
            auto* box = form->findChild<QComboBox*>(name);
            found << (box ? box->lineEdit() : form->findChild<QLineEdit*>(name));
        }
        return found;
    }
    QString boxTexts(const QString& names) const {
        QStringList texts;
        for (const QLineEdit* box : boxes(names))
            texts << box->text();
        return texts.join(QLatin1Char('/'));
    }
    void setBoxTexts(const QString& names, const QString& texts) {
        const QList<QLineEdit*> found = boxes(names);
        for (int i = 0; i < found.size(); ++i)
            found[i]->setText(texts.split(QLatin1Char('/')).value(i));
    }

    // Opens COM1 through the port button; true when the window reached the Open state.
    bool openPort() {
        click("comopen");
        return form->serialLink().portOpen();
    }

    int enabledCommandButtons() const {
        int count = 0;
        for (const char* name : kCommandButtons)
            count += button(name)->isEnabled() ? 1 : 0;
        return count;
    }

    QString status() const { return form->panelText(2); }
    QByteArray wire() const { return module->received(); }
    emu::ModuleSettings& moduleSettings() { return module->model().settings(); }
    QStringList& messages() { return recorders.messages.messages; }

    Recorders recorders;
    std::unique_ptr<emu::PtyHost> module;
    std::unique_ptr<Form1> form;
};

} // namespace zentrava::test
