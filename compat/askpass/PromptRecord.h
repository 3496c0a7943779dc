#pragma once

#include <QString>

#include <string>

#include <sys/types.h>

// Which ssh processes have asked for which keyring entry, kept where the next tollvane-askpass
// finds it (ssh starts a new one for every prompt): a file per ssh process and entry, and one per
// entry whose stored answer was refused, in a folder of the user's that only they can enter
// ($XDG_RUNTIME_DIR/tollvane-askpass). It holds no secret. An ssh process is known by its ID and
// start time, as no later process is.
class PromptRecord
{
public:
    // The record of `ssh` asking for `entry`. An ssh that asks again after it was given the
    // stored answer had it refused: that is noted here, for every ssh after it too.
    PromptRecord(const QString& runtimeFolder, pid_t ssh, const QString& entry);
    ~PromptRecord();
    PromptRecord(const PromptRecord&) = delete;
    PromptRecord& operator=(const PromptRecord&) = delete;

    // Whether the stored answer may be given without a dialog: only to an ssh that has not asked
    // for this entry before, and only until it was refused. Never without the private folder.
    bool mayAnswer() const { return folder_ >= 0 && !process_.empty() && !asked_ && !refused_; }
    // The stored answer was refused, and no other has been stored since.
    bool refused() const { return refused_; }

    // This ssh was answered, from the keyring or not.
    void noteAnswer(bool fromKeyring);
    // A new answer was stored.
    void noteStored();

private:
    void forgetEndedProcesses();

    int folder_ = -1;
    std::string process_; // "PID-STARTTIME-"
    std::string entry_;   // a digest of the entry's key: a file name, whatever the key holds
    bool asked_ = false;
    bool refused_ = false;
};
