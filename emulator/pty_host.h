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

// Puts a ModuleModel behind a pseudo-terminal, so the tool opens devicePath() like a USB
// serial adapter. Everything runs in the owner's event loop; timing faults use timers.
class PtyHost : public QObject {
    Q_OBJECT

public:
    explicit PtyHost(QObject* parent = nullptr);
    ~PtyHost() override;

    bool open(QString* error = nullptr);
    bool isOpen() const { return master_ >= 0; }
    QString devicePath() const { return devicePath_; }

    ModuleModel& model() { return model_; }
    const ModuleModel& model() const { return model_; }

    // Bytes as if the module sent them, straight away.
    void writeRaw(const QByteArray& bytes);

    // Closes both ends for good: the client's port fails like an unplugged adapter.
    void vanish();

    // Every byte the client sent since open() or clearReceived().
    QByteArray received() const { return received_; }
    void clearReceived() { received_.clear(); }

Q_SIGNALS:
    void requestReceived(const QByteArray& frame);
    void replySent(const QByteArray& bytes);
    void bytesReceived(const QByteArray& chunk);
    void bytesDiscarded(const QByteArray& bytes);
    void vanished();

private:
    void readMaster();
    void startNextReply();
    void sendStep();
    void finishReply();
    void send(const QByteArray& bytes);
    void flushOutput();
    void closeAll();

    ModuleModel model_;
    int master_ = -1;
    int heldSlave_ = -1;
    QString devicePath_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer* stepTimer_ = nullptr;
    QTimer* retryTimer_ = nullptr;
    QByteArray received_;
    QByteArray output_; // what the pty would not take yet

    std::deque<Reply> pending_;
    bool replying_ = false;
    int replySentCount_ = 0; // bytes of pending_.front() already handed over
    QElapsedTimer paceClock_;
    std::deque<QByteArray> sentWhenFlushed_;
};

} // namespace zentrava::emu
