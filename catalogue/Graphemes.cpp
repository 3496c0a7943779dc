#include "catalogue/Graphemes.h"

#include <QTextBoundaryFinder>

Graphemes::Graphemes(const QString& text) : text_(text), boundary_(size_t(text.size()) + 1)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text_);
    boundary_[0] = true;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        boundary_[size_t(at)] = true;
}

bool Graphemes::isCharacter(qsizetype position, char16_t c) const
{
    // A lone code unit is a whole character only with a cluster boundary on both sides.
    return position < text_.size() && text_.at(position) == c && boundary_[size_t(position)] &&
           boundary_[size_t(position) + 1];
}

std::vector<Graphemes::Range> Graphemes::split(Range range, char16_t separator, bool pairs) const
{
    std::vector<Range> pieces;
    const int width = pairs ? 2 : 1;
    qsizetype start = range.begin;
    qsizetype i = range.begin;
    while (i + width <= range.end) {
        if (isCharacter(i, separator) && (!pairs || isCharacter(i + 1, separator))) {
            pieces.push_back({start, i});
            i += width;
            start = i;
        } else {
            ++i;
        }
    }
    pieces.push_back({start, range.end});
    return pieces;
}
