#pragma once

#include <QString>

#include <vector>

// Cuts text at separator characters, where a "character" is an extended grapheme cluster: an LF
// right after a CR, or a space that forms one cluster with a neighbour, is not a separator.
class Graphemes
{
public:
    struct Range
    {
        qsizetype begin = 0;
        qsizetype end = 0;
        bool isEmpty() const { return begin == end; }
    };

    explicit Graphemes(const QString& text);

    Range all() const { return {0, text_.size()}; }
    bool startsCharacter(qsizetype position) const; // position <= size; the end counts
    QString text(Range range) const { return text_.mid(range.begin, range.end - range.begin); }

    // The pieces of `range` between separators, left to right. With `pairs`, only two separator
    // characters in a row separate, without overlap. Empty pieces are kept.
    std::vector<Range> split(Range range, char16_t separator, bool pairs = false) const;

private:
    bool isCharacter(qsizetype position, char16_t c) const;

    QString text_;
    std::vector<bool> boundary_; // boundary_[i]: a character starts (or the text ends) at i
};
