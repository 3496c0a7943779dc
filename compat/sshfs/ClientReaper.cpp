#include "ClientReaper.h"

#include "MountTable.h"
#include "PollTimeout.h"

#include <unistd.h>

namespace {

constexpr auto lookEvery = std::chrono::milliseconds(500); // whether the connection has ended

} // namespace

void ClientReaper::watch(unsigned long mountId, unsigned minor)
{
    connection_ = connections_ + "/" + std::to_string(minor);
    mountId_ = mountId;
    stage_ = Stage::Idle;
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
    if (stage_ == Stage::Unmounted)
        return PollTimeout::until(Clock::now() + lookEvery);
    return PollTimeout::until(stage_ == Stage::Ended ? std::optional(since_ + grace_)
                                                     : std::nullopt);
}

bool ClientReaper::due()
{
    if (stage_ == Stage::Unmounted && access(connection_.c_str(), F_OK) != 0)
        enter(Stage::Ended);
    if (stage_ != Stage::Ended || Clock::now() < since_ + grace_)
        return false;
    enter(Stage::Done);
    return true;
}

void ClientReaper::enter(Stage stage)
{
    stage_ = stage;
    since_ = Clock::now();
}
