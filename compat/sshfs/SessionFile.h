#pragma once

#include <string>

// A file that lasts as long as the user's session, for what ssh must still find after the
// adapter has gone (it reads its -F again at every reconnect of a client whose adapter was
// killed): in the private folder "tollvane-sshfs" of the runtime folder, which goes at logout,
// and named by a digest of its content, so that adapters that need the same text share one file
// and none ever has to remove it.
class SessionFile
{
public:
    explicit SessionFile(std::string runtimeFolder) : runtimeFolder_(std::move(runtimeFolder)) {}

    // The path of a file holding `text` (mode 0600), written if need be; empty when there is no
    // private folder or the file cannot be written.
    std::string store(const std::string& text) const;

private:
    std::string runtimeFolder_;
};
