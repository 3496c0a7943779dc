#include "MountProbe.h"

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

void probe(const std::string& target, unsigned long mountId, int resultFd)
{
    MountProbe::Answer answer{MountProbe::Result::Failed, 0};
    const int fd = open(target.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct statx stx = {};
    struct statvfs st;
    if (fd < 0) {
        answer.error = errno;
    } else if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &stx) == 0 &&
               (stx.stx_mask & STATX_MNT_ID) && stx.stx_mnt_id != mountId) {
        answer.result = MountProbe::Result::Replaced;
    } else if (fstatvfs(fd, &st) == 0) {
        answer.result = MountProbe::Result::Answered;
    } else {
        answer.error = errno;
    }
    if (fd >= 0)
        close(fd);
    while (write(resultFd, &answer, sizeof answer) < 0 && errno == EINTR) {
    }
}

} // namespace

MountProbe::MountProbe()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
        read_ = ends[0];
        write_ = ends[1];
    }
}

// The process ends with its owner: a probe still blocked in statvfs is left to that.
MountProbe::~MountProbe() = default;

void MountProbe::start(const std::string& target, unsigned long mountId)
{
    std::thread(probe, target, mountId, write_).detach();
}

std::optional<MountProbe::Answer> MountProbe::take()
{
    Answer answer;
    if (read(read_, &answer, sizeof answer) != sizeof answer)
        return std::nullopt;
    return answer;
}
