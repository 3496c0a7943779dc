#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <mutex>

namespace {

// The work crosses threads under a standard mutex, so that every write the sending thread made
// before queuing is visibly ordered before the main thread runs it (ThreadSanitizer cannot see
// through Qt's own event queue).
struct Handoff
{
    std::mutex mutex;
    std::function<void()> work;
};

} // namespace

void MainQueue::async(std::function<void()> work)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    auto handoff = std::make_shared<Handoff>();
    {
        std::lock_guard lock(handoff->mutex);
        handoff->work = std::move(work);
    }
    QMetaObject::invokeMethod(
        app,
        [handoff] {
            std::function<void()> work;
            {
                std::lock_guard lock(handoff->mutex);
                work = std::move(handoff->work);
            }
            work();
        },
        Qt::QueuedConnection);
}
