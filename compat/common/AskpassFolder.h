#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

// Where the askpass notes what it gave to which ssh ($XDG_RUNTIME_DIR/tollvane-askpass, a folder
// of the user's that only they may enter), shared with the adapter: names only, never a secret.
// An ssh process is named "PID-STARTTIME", as no later process is, and a keyring entry by a digest
// of its key. Once an ssh was given an entry's stored answer, that answer is in doubt until the
// ssh logs in, which the adapter reads in ssh's own output: a wrong one is never tried twice.
class AskpassFolder
{
public:
    // The folder under `runtimeFolder`, made when `make` and missing; not open (fd() < 0) unless
    // it is this user's alone.
    AskpassFolder(const std::string& runtimeFolder, bool make);
    ~AskpassFolder();
    AskpassFolder(const AskpassFolder&) = delete;
    AskpassFolder& operator=(const AskpassFolder&) = delete;

    int fd() const { return fd_; }
    // Whether it holds a file `name`; makes an empty one; removes it.
    bool has(const std::string& name) const;
    void make(const std::string& name) const;
    void remove(const std::string& name) const;
    // Calls `visit` with the name of each file in it.
    void forEach(const std::function<void(const std::string&)>& visit) const;

    // The name of process `pid`; empty once it has ended, as a zombie too.
    static std::string processName(pid_t pid);
    // The note that `process` was given the stored answer of `entry`.
    static std::string givenName(const std::string& entry, const std::string& process);
    // The process of `entry`'s note, or empty when there is none.
    std::string givenTo(const std::string& entry) const;
    // `ssh` logged in: the stored answers it was given are no longer in doubt.
    void noteLoggedIn(pid_t ssh);

private:
    int fd_ = -1;
};
