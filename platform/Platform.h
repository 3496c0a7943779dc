#pragma once

#include "platform/DispatchQueue.h"
#include "platform/ModalAlert.h"
#include "platform/ProcessRunner.h"
#include "platform/StandardOutput.h"

#include <memory>

// The services a coordinator works with. `system()` gives the real ones, but for an alert that
// shows nothing (the core has no widgets); a test passes its own.
struct Platform
{
    std::shared_ptr<DispatchQueue> mainQueue;
    std::shared_ptr<DispatchQueue> backgroundQueue;
    std::shared_ptr<ProcessRunner> processRunner;
    std::shared_ptr<ModalAlert> alert;
    std::shared_ptr<StandardOutput> standardOutput;

    static Platform system();
};
