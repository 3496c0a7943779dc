#include "LineWriter.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include <limits.h>
#include <unistd.h>

namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one (overlong
// forms, surrogates and code points past U+10FFFF included).
std::size_t sequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

// The application drops a chunk that is not UTF-8, and with it a verdict the chunk may hold: a
// byte that is not part of a valid sequence becomes U+FFFD.
std::string validUtf8(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = sequenceLength(text);
        if (length == 0)
            result += "\xEF\xBF\xBD";
        else
            result.append(text.substr(0, length));
        text.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return result;
}

} // namespace

void LineWriter::write(std::string line)
{
    if (gone_)
        return;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n'; }, '?');
    line = validUtf8(line);
    // One write of at most PIPE_BUF bytes reaches the reader whole, never mixed with another
    // line nor cut inside a character; ssh's lines are far shorter.
    if (line.size() >= PIPE_BUF) {
        std::size_t end = PIPE_BUF - 1;
        while ((static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            --end;
        line.resize(end);
    }
    line += '\n';
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            gone_ = true;
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}
