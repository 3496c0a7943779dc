#include "ClientReaper.h"

#include "MountTable.h"

#include <unistd.h>

namespace {

constexpr auto lookEvery = std::chrono::milliseconds(500); // whether the connection has ended

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
    Clock::duration wait;
    if (stage_ == Stage::Unmounted)
        wait = lookEvery;
    else if (stage_ == Stage::Ended)
        wait = since_ + grace_ - Clock::now();
    else
        return -1;
    return int(std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
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
