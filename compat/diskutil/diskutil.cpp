// "/usr/sbin/diskutil unmountDisk force PATH": takes every volume off PATH, also a busy one and one
// whose FUSE daemon no longer answers. The path itself is never looked up (a stopped daemon would
// hang us), only the folder that holds it: the mount table alone decides, and the unmounts are
// lazy.

#include "LazyUnmount.h"
#include "MountPoint.h"
#include "MountTable.h"
#include "mount/MountVerdict.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Enough for any real stack of mounts; a table that never shrinks must not keep us forever.
constexpr int maxUnmounts = 32;

int usage()
{
    std::fputs("Usage: diskutil unmountDisk force MountPoint\n", stderr);
    return 1;
}

// The application reads our standard error for its phrases (a confirmation there ends the busy
// mark): a mount point named after a host must not set one off.
int failed(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "%s\n", MountVerdict::unmountFailed(path, reason).c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || std::string_view(argv[1]) != "unmountDisk" ||
        std::string_view(argv[2]) != "force")
        return usage();
    const std::string given = argv[3];
    std::string why;
    const std::string path = MountPoint::resolve(given, why);
    if (path.empty())
        return failed(given, why);

    for (int round = 0; round <= maxUnmounts; ++round) {
        MountTable table;
        if (!table.readSelf())
            return failed(given, "cannot read the mount table");
        const auto mounts = table.at(path);
        if (mounts.empty()) {
            if (round == 0)
                return failed(given, "not mounted");
            std::printf("Unmount of all volumes on %s was successful\n", given.c_str());
            return 0;
        }
        if (round == maxUnmounts)
            break;
        const std::string& type = mounts.back().type;
        const int status = LazyUnmount::run(path, type);
        if (status != 0) {
            // The tool may have failed on a mount that another process took away meanwhile.
            MountTable after;
            if (after.readSelf() && after.at(path).size() < mounts.size())
                continue;
            return failed(given,
                          std::string(LazyUnmount::tool(type)) +
                              (status < 0 ? " could not run"
                                          : " exited with status " + std::to_string(status)));
        }
    }
    return failed(given, "still mounted after " + std::to_string(maxUnmounts) + " unmounts");
}
