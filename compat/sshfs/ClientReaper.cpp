#include "ClientReaper.h"

#include "MountTable.h"

#include <signal.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto lookEvery = 500ms; // whether the connection has ended
constexpr auto grace = 3s;        // for the client to end on its own, then after TERM

} // namespace

void ClientReaper::watch(unsigned long mountId, unsigned minor)
{
    connection_ = connections_ + "/" + std::to_string(minor);
    mountId_ = mountId;
    if (access(connection_.c_str(), F_OK) == 0)
        enter(Stage::Mounted);
}

void ClientReaper::tableChanged(const MountTable& table)
{
    if (stage_ == Stage::Mounted && !table.contains(mountId_))
        enter(Stage::Unmounted);
}

int ClientReaper::timeout() const
{
    auto wait = Clock::duration::zero();
    switch (stage_) {
    case Stage::Idle:
    case Stage::Mounted:
    case Stage::Killed:
        return -1;
    case Stage::Unmounted:
        wait = lookEvery;
        break;
    case Stage::Ended:
    case Stage::Terminated:
        wait = since_ + grace - Clock::now();
        break;
    }
    return int(std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
}

int ClientReaper::due()
{
    const bool late = Clock::now() >= since_ + grace;
    switch (stage_) {
    case Stage::Unmounted:
        if (access(connection_.c_str(), F_OK) != 0)
            enter(Stage::Ended);
        return 0;
    case Stage::Ended:
        if (!late)
            return 0;
        enter(Stage::Terminated);
        return SIGTERM;
    case Stage::Terminated:
        if (!late)
            return 0;
        enter(Stage::Killed);
        return SIGKILL;
    default:
        return 0;
    }
}

void ClientReaper::enter(Stage stage)
{
    stage_ = stage;
    since_ = Clock::now();
}
