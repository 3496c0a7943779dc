#include "catalogue/Graphemes.h"

#include <QtCore/private/qunicodetools_p.h>

Graphemes::Graphemes(const QString& text) : text_(text), boundary_(size_t(text.size()) + 1)
{
    // Qt's own extended grapheme cluster rules, asked for without script items: given them,
    // QTextBoundaryFinder re-cuts runs of Indic, Thai, Tibetan, Myanmar or Khmer text by
    // syllable, and then splits a CR from its LF and a space from its combining mark.
    std::vector<QCharAttributes> attributes(boundary_.size());
    QUnicodeTools::initCharAttributes(text_, nullptr, 0, attributes.data(),
                                      QUnicodeTools::GraphemeBreaks);
    for (size_t i = 0; i < boundary_.size(); ++i)
        boundary_[i] = attributes[i].graphemeBoundary;
    boundary_.front() = boundary_.back() = true;
}

bool Graphemes::startsCharacter(qsizetype position) const
{
    return boundary_[size_t(position)];
}

bool Graphemes::isCharacter(qsizetype position, char16_t c) const
{
    // A lone code unit is a whole character only with a cluster boundary on both sides.
    return position < text_.size() && text_.at(position) == c && startsCharacter(position) &&
           startsCharacter(position + 1);
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
