#include "MountTable.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > start)
            result.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

unsigned long number(std::string_view text)
{
    unsigned long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace

bool MountTable::read(int fd)
{
    std::string text;
    char buffer[16384];
    if (lseek(fd, 0, SEEK_SET) < 0)
        return false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    parse(text);
    return true;
}

bool MountTable::readSelf()
{
    const int fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = read(fd);
    close(fd);
    return ok;
}

void MountTable::parse(std::string_view text)
{
    entries_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const auto f = fields(text.substr(start, end - start));
        start = end + 1;
        std::size_t separator = 6;
        while (separator < f.size() && f[separator] != "-")
            ++separator;
        if (separator + 1 >= f.size())
            continue;
        const std::string_view device = f[2];
        entries_.push_back(
            {number(f[0]),
             unsigned(number(device.substr(std::min(device.find(':') + 1, device.size())))),
             unescape(f[4]), std::string(f[separator + 1])});
    }
}

std::vector<MountTable::Entry> MountTable::at(std::string_view path) const
{
    std::vector<Entry> result;
    for (const Entry& entry : entries_) {
        if (entry.mountPoint == path)
            result.push_back(entry);
    }
    return result;
}

bool MountTable::contains(unsigned long id) const
{
    return std::any_of(entries_.begin(), entries_.end(),
                       [id](const Entry& entry) { return entry.id == id; });
}

std::string MountTable::unescape(std::string_view field)
{
    std::string result;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                result.push_back(static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                                   (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        result.push_back(field[i]);
    }
    return result;
}

std::string MountTable::normalise(std::string_view absolutePath)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= absolutePath.size()) {
        std::size_t end = absolutePath.find('/', start);
        if (end == std::string_view::npos)
            end = absolutePath.size();
        const std::string_view part = absolutePath.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string_view part : parts) {
        result += '/';
        result += part;
    }
    return result.empty() ? std::string("/") : result;
}
