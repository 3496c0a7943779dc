#include "ClientEnvironment.h"

#include <string_view>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value of `name` in `environment`, or nothing when it is unset.
const char* lookUp(char** environment, std::string_view name)
{
    for (char** entry = environment; *entry; ++entry) {
        const std::string_view text = *entry;
        if (text.size() > name.size() && text.starts_with(name) && text[name.size()] == '=')
            return *entry + name.size() + 1;
    }
    return nullptr;
}

bool isSet(char** environment, std::string_view name)
{
    const char* value = lookUp(environment, name);
    return value && *value;
}

} // namespace

ClientEnvironment::ClientEnvironment(char** base, const std::string& askpass) : base_(base)
{
    const bool display = isSet(base, "DISPLAY") || isSet(base, "WAYLAND_DISPLAY");
    if (askpass.empty() || !display || isSet(base, "SSH_ASKPASS"))
        return;
    // A user's own SSH_ASKPASS_REQUIRE stands ("never" keeps ssh from asking through any).
    const bool keepRequire = isSet(base, "SSH_ASKPASS_REQUIRE");
    for (char** entry = base; *entry; ++entry) {
        const std::string_view text = *entry;
        // Empty ones would hide ours: getenv() takes the first.
        if (text != "SSH_ASKPASS=" && text != "SSH_ASKPASS_REQUIRE=")
            entries_.emplace_back(text);
    }
    entries_.push_back("SSH_ASKPASS=" + askpass);
    // ssh looks for DISPLAY alone: "prefer" without it would never ask; "force" asks even so.
    if (!keepRequire)
        entries_.push_back(std::string("SSH_ASKPASS_REQUIRE=") +
                           (isSet(base, "DISPLAY") ? "prefer" : "force"));
    for (std::string& entry : entries_)
        pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
}

std::string ClientEnvironment::besideThisProgram()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || length == sizeof path)
        return {};
    std::string program(path, static_cast<std::size_t>(length));
    program.erase(program.rfind('/') + 1);
    program += "tollvane-askpass";
    struct stat st;
    if (stat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        access(program.c_str(), X_OK) != 0)
        return {};
    return program;
}
