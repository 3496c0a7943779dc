#include "LineWriter.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include <unistd.h>

void LineWriter::write(std::string line)
{
    if (gone_)
        return;
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n'; }, '?');
    line.push_back('\n');
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            gone_ = true;
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}
