#include "mount/ErrorWatch.h"

#include "platform/StrictUtf8.h"

#include <optional>

std::optional<ErrorWatch::Verdict> ErrorWatch::judge(const QString& line)
{
    return MountVerdict::judge(line.toStdString());
}

ErrorWatch::Reading ErrorWatch::read(const QByteArray& chunk)
{
    Reading reading;
    if (chunk.isEmpty()) {
        watching_ = false;
        return reading;
    }
    const std::optional<QString> text = StrictUtf8::decode(chunk);
    if (!text)
        return reading;
    reading.lines = text->split(u'\n', Qt::SkipEmptyParts);
    if (!watching_)
        return reading;
    for (const QString& line : reading.lines) {
        if (const auto verdict = judge(line)) {
            reading.verdicts.push_back(*verdict);
            watching_ = false;
            decided_ = true;
        }
    }
    return reading;
}
