#pragma once

#include "emulator/module_model.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>

class QSocketNotifier;
class QTimer;

namespace zentrava::emu {

// A pseudo-terminal already raw at 9600 baud, both ends closed on exec, so a CR in a reply
// stays a CR and child processes do not keep the device alive.
struct RawPty {
    int master = -1;
    int slave = -1;
    QString devicePath;
};
// False, with both ends closed and `error` set, when no pseudo-terminal could be had.
bool openRawPty(RawPty& pty, QString* error = nullptr);

// Puts a ModuleModel behind a pseudo-terminal, so the tool opens devicePath() like a USB
// serial adapter. Everything runs in the owner's event loop; timing faults use timers.
class PtyHost : public QObject {
    Q_OBJECT

public:
    explicit PtyHost(QObject* parent = nullptr);
    ~PtyHost() override;

    bool open(QString* error = nullptr);
    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_devicePath; }

    ModuleModel& model() { return m_model; }
    const ModuleModel& model() const { return m_model; }

    // Bytes as if the module sent them, straight away.
    void writeRaw(const QByteArray& bytes);

    // Closes both ends for good: the client's port fails like an unplugged adapter.
    void vanish();

    // The module taken off its fixture (replies on their way are lost with it), or a fresh one
    // put on; the device stays.
    void takeOff();
    void putOn(const ModuleSettings& fresh);

    // Every byte the client sent since open() or clearReceived().
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

Q_SIGNALS:
    void requestReceived(const QByteArray& frame);
    void replySent(const QByteArray& bytes);
    void bytesDiscarded(const QByteArray& bytes);
    // Sent at a baud rate the module does not listen at: noise to it.
    void misheard(const QByteArray& bytes);
    void vanished();

private:
    void readMaster();
    bool heardAtModuleLine() const;
    void startNextReply();
    void sendStep();
    void finishReply();
    void send(const QByteArray& bytes);
    void flushOutput();
    void closeAll();

    ModuleModel m_model;
    int m_master = -1;
    int m_heldSlave = -1;
    QString m_devicePath;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_stepTimer = nullptr;
    QTimer* m_retryTimer = nullptr;
    QByteArray m_received;
    QByteArray m_output; // what the pty would not take yet

    struct Queued {
        Reply reply;
        qint64 receivedMs; // on m_clock
    };
    QElapsedTimer m_clock;
    std::deque<Queued> m_pending;
    bool m_replying = false;
    int m_replySentCount = 0; // bytes of m_pending.front() already handed over
    QElapsedTimer m_paceClock;
    std::deque<QByteArray> m_sentWhenFlushed;
};

} // namespace zentrava::emu
