#include "PromptRecord.h"

#include <QCryptographicHash>
#include <QFile>

#include <cctype>
#include <cstdlib>

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
    asked_ = folder_.has(process_ + '-' + entry_);
    // Asking again, or gone, without having logged in: the server refused what it was given.
    if (const std::string given = folder_.givenTo(entry_); !given.empty()) {
        if (given == process_ || AskpassFolder::processName(std::atoi(given.c_str())) != given) {
            folder_.make(refusal);
            folder_.remove(AskpassFolder::givenName(entry_, given));
        } else {
            doubted_ = true;
        }
    }
    refused_ = folder_.has(refusal);
}

void PromptRecord::noteAnswer(bool fromKeyring)
{
    if (entry_.empty())
        return;
    forgetEndedProcesses();
    folder_.make(process_ + '-' + entry_);
    if (fromKeyring)
        noteGiven();
}

void PromptRecord::noteStored()
{
    if (entry_.empty())
        return;
    folder_.remove(refusedPrefix + entry_);
    noteGiven();
}

// In doubt until this ssh logs in: replaces the note of any other.
void PromptRecord::noteGiven()
{
    if (const std::string given = folder_.givenTo(entry_); !given.empty())
        folder_.remove(AskpassFolder::givenName(entry_, given));
    folder_.make(AskpassFolder::givenName(entry_, process_));
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
            folder_.remove(name);
    });
}
