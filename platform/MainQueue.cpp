#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

void MainQueue::async(std::function<void()> work)
{
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
