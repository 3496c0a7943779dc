#pragma once

// Plain C++: the application's watch and the compat programs both build on this.

#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

// The contract between the application and the sshfs adapter: the phrases that the application
// acts on in a command's standard error, and the one line per mount, its verdict, that the
// adapter writes with exactly one of them. Any other text the compat programs write there (a
// host name, a path, ssh's messages) is defused first, so that nothing but the verdict can set
// off, swallow or flip an outcome.
//
// A verdict reaches the application whole in one read: the adapter writes every line with one
// write() of fewer than PIPE_BUF bytes, which a pipe never splits nor mixes with another writer's.
// So the application's watch may judge each chunk on its own, carrying nothing over.
class MountVerdict
{
public:
    enum class Outcome {
        Confirmed, // the volume works; during an unmount, the busy mark goes
        Refused,   // the connection failed
    };

    static constexpr std::string_view confirmation = "statfs";
    static constexpr std::array<std::string_view, 3> failures = {
        "Connection refused", "remote host has disconnected", "failed"};

    // What a line means: a confirmation wins over a failure in the same line.
    static std::optional<Outcome> judge(std::string_view line)
    {
        if (line.find(confirmation) != line.npos)
            return Outcome::Confirmed;
        for (const std::string_view phrase : failures) {
            if (line.find(phrase) != line.npos)
                return Outcome::Refused;
        }
        return std::nullopt;
    }

    // `text` with the first letter of every phrase in the other case ("connection refused",
    // "Statfs"): it reads as it did and sets off nothing. One pass is enough, as a changed letter
    // completes no phrase (S, R and F are in none, and the "c" of "connection refused" starts
    // none).
    static std::string defuse(std::string text)
    {
        const auto otherCase = [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
        };
        for (const std::string_view phrase : phrases()) {
            for (std::size_t at = text.find(phrase); at != text.npos;
                 at = text.find(phrase, at + 1))
                text[at] = otherCase(text[at]);
        }
        return text;
    }

    // The adapter's verdicts. The fixed words around a name begin with ": " or end with "of ",
    // which no phrase spans.
    static std::string mounted(const std::string& host)
    {
        return "sshfs: " + defuse(host) + ": statfs answered, mounted";
    }
    static std::string failed(const std::string& host, const std::string& reason)
    {
        return "sshfs: mount of " + defuse(host) + " failed: " + defuse(reason);
    }

    // diskutil's failure, which during an unmount only ends the watch.
    static std::string unmountFailed(const std::string& path, const std::string& reason)
    {
        return "Unmount of " + defuse(path) + " failed: " + defuse(reason);
    }

private:
    static constexpr std::array<std::string_view, 4> phrases()
    {
        return {confirmation, failures[0], failures[1], failures[2]};
    }
};
