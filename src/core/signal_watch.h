#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace zentrava {

// Unix signals handled in the event loop: the handler only writes the signal's number into a
// pipe, the one thing it may safely do, and received() follows once the loop reads it.
class SignalWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False, with errno telling why, when the pipe or a handler could not be had. One watch a
    // process.
    bool watch(std::initializer_list<int> signalNumbers);

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace zentrava
