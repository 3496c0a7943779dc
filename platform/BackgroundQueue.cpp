#include "platform/BackgroundQueue.h"

#include <QThread>

void BackgroundQueue::async(std::function<void()> work)
{
    // A QThread rather than a bare std::thread: the process runner needs an event dispatcher.
    QThread* thread = QThread::create(std::move(work));
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::LowPriority);
}
