#include "PromptRecord.h"

#include <QCryptographicHash>
#include <QFile>

#include <cctype>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char refusedPrefix[] = "refused-";

} // namespace

PromptRecord::PromptRecord(const QString& runtimeFolder, pid_t ssh, const QString& entry)
    : folder_(QFile::encodeName(runtimeFolder).toStdString(), true),
      process_(AskpassFolder::processName(ssh))
{
    if (folder_.fd() < 0 || process_.empty())
        return;
    entry_ = QCryptographicHash::hash(entry.toUtf8(), QCryptographicHash::Sha256)
                 .toHex()
                 .left(32)
                 .toStdString();
    const std::string refusal = refusedPrefix + entry_;
    asked_ =
        faccessat(folder_.fd(), (process_ + '-' + entry_).c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
    // Asking again, or gone, without having logged in: the server refused what it was given.
    if (const std::string given = folder_.givenTo(entry_); !given.empty()) {
        if (given == process_ || AskpassFolder::processName(std::atoi(given.c_str())) != given) {
            const int fd = openat(folder_.fd(), refusal.c_str(),
                                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0)
                close(fd);
            unlinkat(folder_.fd(), AskpassFolder::givenName(entry_, given).c_str(), 0);
        } else {
            doubted_ = true;
        }
    }
    refused_ = faccessat(folder_.fd(), refusal.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

void PromptRecord::noteAnswer(bool fromKeyring)
{
    if (entry_.empty())
        return;
    forgetEndedProcesses();
    const int fd = openat(folder_.fd(), (process_ + '-' + entry_).c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
    if (fromKeyring)
        noteGiven();
}

void PromptRecord::noteStored()
{
    if (entry_.empty())
        return;
    unlinkat(folder_.fd(), (refusedPrefix + entry_).c_str(), 0);
    noteGiven();
}

// In doubt until this ssh logs in: replaces the note of any other.
void PromptRecord::noteGiven()
{
    if (const std::string given = folder_.givenTo(entry_); !given.empty())
        unlinkat(folder_.fd(), AskpassFolder::givenName(entry_, given).c_str(), 0);
    const int fd = openat(folder_.fd(), AskpassFolder::givenName(entry_, process_).c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
}

// The files of ssh processes that have ended: the folder keeps one per connection otherwise.
// Their notes of a stored answer stay: the next ssh reads its fate there.
void PromptRecord::forgetEndedProcesses()
{
    folder_.forEach([this](const std::string& name) {
        const std::size_t second = name.find('-', name.find('-') + 1);
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0])) ||
            second == name.npos)
            return;
        if (AskpassFolder::processName(std::atoi(name.c_str())) != name.substr(0, second))
            unlinkat(folder_.fd(), name.c_str(), 0);
    });
}
