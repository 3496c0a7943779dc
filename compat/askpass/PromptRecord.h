#pragma once

#include "AskpassFolder.h"

#include <QString>

#include <string>

#include <sys/types.h>

// Which ssh processes have asked for which keyring entry, and what became of its stored answer,
// kept in the AskpassFolder where the next tollvane-askpass finds it (ssh starts a new one for
// every prompt): a file per ssh process and entry, one per entry whose stored answer went to an
// ssh that has not logged in since, and one per entry whose stored answer was refused. It holds no
// secret.
class PromptRecord
{
public:
    // The record of `ssh` asking for `entry`. The last ssh given the stored answer that asks again,
    // or has ended, without having logged in had it refused: that is noted here, for every ssh
    // after it too.
    PromptRecord(const QString& runtimeFolder, pid_t ssh, const QString& entry);

    // Whether the stored answer may be given without a dialog: only to an ssh that has not asked
    // for this entry before, only until it was refused, and not while another ssh given it may
    // still log in with it. Never without the private folder.
    bool mayAnswer() const { return !entry_.empty() && !asked_ && !refused_ && !doubted_; }
    // The stored answer was refused, and no other has been stored since.
    bool refused() const { return refused_; }

    // This ssh was answered, from the keyring or not.
    void noteAnswer(bool fromKeyring);
    // A new answer was stored: the one this ssh was given.
    void noteStored();

private:
    void noteGiven();
    void forgetEndedProcesses();

    AskpassFolder folder_;
    std::string process_;
    std::string entry_; // a digest of the entry: a file name, whatever the entry holds; empty
                        // without the folder or the process
    bool asked_ = false;
    bool refused_ = false;
    bool doubted_ = false; // another ssh given the stored answer may still log in with it
};
