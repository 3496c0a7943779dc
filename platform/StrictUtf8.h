#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// UTF-8 as the application reads it everywhere: any invalid or truncated sequence rejects the
// whole input, and nothing valid is dropped (a byte order mark stays in the text).
class StrictUtf8
{
public:
    static std::optional<QString> decode(const QByteArray& bytes);
};
