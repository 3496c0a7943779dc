#pragma once

#include "mount/MountVerdict.h"

#include <QByteArray>
#include <QStringList>

#include <optional>
#include <vector>

// Reads a command's standard error chunk by chunk and tells what it means. Each chunk is judged
// on its own: nothing is carried over, so a phrase split across two chunks is not seen.
class ErrorWatch
{
public:
    using Verdict = MountVerdict::Outcome;

    struct Reading
    {
        QStringList lines;             // to echo, also those read after the watch has ended
        std::vector<Verdict> verdicts; // one per hitting line, in order
    };

    // An empty chunk is end of file: the watch ends without a verdict. A chunk that is not valid
    // UTF-8 is dropped. After the first hit the watch has ended, but every line of that chunk is
    // still judged; later chunks give lines only.
    Reading read(const QByteArray& chunk);

    // Whether a hit was seen: the command was confirmed or refused.
    bool decided() const { return decided_; }

    static std::optional<Verdict> judge(const QString& line);

private:
    bool watching_ = true;
    bool decided_ = false;
};
