#include "mount/ErrorWatch.h"

#include <QStringDecoder>

#include <optional>

using namespace Qt::StringLiterals;

std::optional<ErrorWatch::Verdict> ErrorWatch::judge(const QString& line)
{
    if (line.contains("statfs"_L1))
        return Verdict::Confirmed;
    for (const auto phrase :
         {"Connection refused"_L1, "remote host has disconnected"_L1, "failed"_L1}) {
        if (line.contains(phrase))
            return Verdict::Refused;
    }
    return std::nullopt;
}

ErrorWatch::Reading ErrorWatch::read(const QByteArray& chunk)
{
    Reading reading;
    if (chunk.isEmpty()) {
        watching_ = false;
        return reading;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder(chunk);
    if (decoder.hasError())
        return reading;
    reading.lines = text.split(u'\n', Qt::SkipEmptyParts);
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
