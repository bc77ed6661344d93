#pragma once

#include "app/ui_services.h"
#include "core/module_session.h"
#include "core/port_map.h"
#include "core/port_numbering.h"
#include "core/port_source.h"
#include "core/serial_link.h"

#include <QByteArray>
#include <QColor>
#include <QMainWindow>
#include <QSet>
#include <QStringList>

#include <array>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace zentrava {

// The one window: every control, the serial link, the reply timer and the transaction state.
// It talks to the module through a ModuleSession; what the window shows is decided here.
class Form1 : public QMainWindow {
    Q_OBJECT
    // First, in this order: the link takes the map (filled from the source at the probe step),
    // and the transaction state below refers into the session.
    std::unique_ptr<PortSource> m_portSource;
    PortNumbering m_portNumbering;
    PortMap m_portMap;
    std::unique_ptr<SerialLink> MSComm1;
    ModuleSession m_session;

public:
    // The ports come from `ports` (the system's serial devices when null) and the list follows
    // them while the port is closed. `link` replaces the real serial link; tests use it for
    // failures a device cannot produce.
    explicit Form1(std::unique_ptr<PortSource> ports = nullptr, UiServices services = {},
                   std::unique_ptr<SerialLink> link = nullptr, QWidget* parent = nullptr);
    // Exactly the ports of `portMap`, at the numbers it gives them.
    explicit Form1(const PortMap& portMap, UiServices services = {},
                   std::unique_ptr<SerialLink> link = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    SerialLink& serialLink() { return *MSComm1; }
    QString panelText(int panel) const;

    // Transaction state shared by the request, time-out and reply handlers. The reply buffer is
    // the session's own: zero-filled by each request, then filled by the reply.
    qint16 pendingCommand = 0;
    const QByteArray& replyBuffer;

    static const QColor kLightGreen;
    static const QColor kLightBlue;

    void comopen_Click();
    void Image1_Click();
    void Timer2_Timer();
    // A reply arrived for `code`: its value when it passed every check.
    void MSComm1_OnComm(CommandCode code, const std::optional<ModuleValue>& value);
    void MSComm1_DeviceLost();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void readchannel_Click();
    void writechannel_Click();
    void TXfrequency_Change();
    void readid_Click();
    void writeid_Click();
    void readdatarate_Click();
    void writedatarate_Click();
    void readserial_Click();
    void writeserial_Click();
    // Returns true when the key was handled here and must not reach the box.
    bool id_KeyPress(int& keyAscii);
    bool id_KeyDown(int keyCode, int shift);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createStatusBar();
    void wireEvents();
    void runStartupSequence();
    QRect twips(int left, int top, int width, int height) const;
    QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                            QRect geometry);
    // `box` is one made already, or null for a plain one.
    QComboBox* makeCombo(QWidget* parent, const char* name, bool editable, QRect geometry,
                         QComboBox* box = nullptr);
    QLineEdit* makeTextBox(QWidget* parent, const char* name, const QString& text, QRect geometry);
    QGroupBox* makeFrame(const char* name, const QString& caption, QRect geometry);
    void setPanelText(int panel, const QString& text);
    void updateClock();

    // Port management.
    void probePorts();
    // Keeps for the list's tip why a present device could not be listed, when the operator can
    // do something about it.
    void noteSkippedPort(const QString& device, int error);
    // Numbers the devices present, hands the map to the link and probes them.
    void renumberPorts();
    // Numbers the devices present again and probes them, keeping the entry shown.
    void refreshPortList();
    void updatePortToolTip();
    void setToolTips();
    void applyStartupSettings();
    int runOpenSteps();
    int runCloseSteps();
    void reportSerialError(int code);
    void closeAfterDeviceFailure();
    void setComopenColor(const QColor& color);

    // Transaction.
    void setCommandButtonsEnabled(bool enabled);
    // Locks the twelve buttons, then sends the command and waits for its reply.
    void startTransaction(CommandCode code, const QByteArray& payload = {});
    // The rest of a request once the buttons are locked (or a check came first).
    void sendCommand(CommandCode code, const QByteArray& payload);
    void sendValue(const ModuleValue& value);
    void startReplyTimer();
    // A refused write sends nothing, yet waits out the timer like one that was sent.
    void refuseWrite();
    void noteWireTraffic(const QByteArray& reply);
    void writeByteSetting(const QComboBox* box, ModuleValue (*make)(int));

    // A plausible value into its control.
    void showValue(const ModuleValue& value);

    std::unique_ptr<MessageSink> m_ownMessages;
    std::unique_ptr<Launcher> m_ownLauncher;
    std::unique_ptr<Clipboard> m_ownClipboard;
    UiServices m_services;
    double m_scale = 1.0;
    QColor m_buttonFace;
    // True from a successful open until the port is closed, so a lost device is told once.
    bool m_portInUse = false;
    // The devices changed while the port was open; the list catches up once it is closed.
    bool m_portListStale = false;
    // Devices the probe opened that are still present: they are listed without opening again.
    QSet<QString> m_probedDevices;
    // "device: why" for each present device the probe could not open.
    QStringList m_skippedPorts;
    QString m_lastRequestTime;

    QTimer* Timer2 = nullptr;
    QTimer* m_clockTimer = nullptr;
    std::array<QLabel*, 3> m_panels{};

    QGroupBox* Frame1 = nullptr;
    QComboBox* comport = nullptr;
    QPushButton* comopen = nullptr;
    QLabel* Label2 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLineEdit* TXfrequency = nullptr;
    QPushButton* readchannel = nullptr;
    QPushButton* writechannel = nullptr;
    QGroupBox* Frame7 = nullptr;
    QLineEdit* RXfrequency = nullptr;
    QPushButton* readpowerlevel = nullptr;
    QPushButton* writepowerlevel = nullptr;
    QGroupBox* Frame3 = nullptr;
    QComboBox* datarate = nullptr;
    QPushButton* readdatarate = nullptr;
    QPushButton* writedatarate = nullptr;
    QGroupBox* Frame6 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QLineEdit* id = nullptr;
    QPushButton* readid = nullptr;
    QPushButton* writeid = nullptr;
    QGroupBox* Frame8 = nullptr;
    QComboBox* Combo2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLabel* Label8 = nullptr;
    QComboBox* sbaudrate = nullptr;
    QLabel* Label11 = nullptr;
    QComboBox* scheckbits = nullptr;
    QPushButton* readserial = nullptr;
    QPushButton* writeserial = nullptr;
    QLabel* Image1 = nullptr;

    // The twelve command buttons, locked and unlocked together in this order.
    std::array<QPushButton*, 12> m_commandButtons{};
};

} // namespace zentrava
