#include "MountPoint.h"

#include "MountTable.h"
#include "platform/PathGuard.h"

#include <climits>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace {

std::string joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace

std::string MountPoint::userFolder()
{
    const passwd* user = getpwuid(geteuid());
    return user ? std::string("/Users/") + user->pw_name : std::string();
}

std::string MountPoint::resolve(const std::string& given, std::string& why)
{
    std::string path = given;
    if (!path.starts_with('/')) {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) {
            why = "cannot tell the current directory";
            return {};
        }
        path = joined(cwd, path);
    }

    const std::string volumes = userFolder() + "/Volumes";
    if (path.starts_with(volumes + "/")) {
        const auto parts = PathGuard::split(std::string_view(path).substr(volumes.size() + 1));
        const int parent = parts ? PathGuard::openParent(volumes, *parts, false) : -1;
        if (parent < 0) {
            why = "not a mount point of its own inside " + volumes;
            return {};
        }
        const std::string folder = PathGuard::pathOf(parent);
        close(parent);
        return joined(folder, parts->back());
    }

    path = MountTable::normalise(path);
    const std::size_t slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (name.empty()) // the root itself
        return path;
    if (!realpath(slash == 0 ? "/" : path.substr(0, slash).c_str(), resolved))
        return path; // nothing can be mounted below a folder that is not there
    return joined(resolved, name);
}
