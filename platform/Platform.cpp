#include "platform/Platform.h"

#include "platform/BackgroundQueue.h"
#include "platform/MainQueue.h"

Platform Platform::system()
{
    return {std::make_shared<MainQueue>(), std::make_shared<BackgroundQueue>(),
            std::make_shared<ProcessRunner>(), std::make_shared<ModalAlert>(),
            std::make_shared<StandardOutput>()};
}
