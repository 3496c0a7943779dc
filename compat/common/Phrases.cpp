#include "Phrases.h"

#include <array>
#include <cctype>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 4> phrases = {"statfs", "Connection refused",
                                                     "remote host has disconnected", "failed"};

char otherCase(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
}

} // namespace

std::string Phrases::defuse(std::string text)
{
    // One pass: a changed letter completes no phrase (S, R and F are in none, and the "c" of
    // "connection refused" starts none).
    for (const std::string_view phrase : phrases) {
        for (std::size_t at = text.find(phrase); at != text.npos; at = text.find(phrase, at + 1))
            text[at] = otherCase(text[at]);
    }
    return text;
}
