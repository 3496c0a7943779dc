#include "ui/HostSearch.h"

#include <QTextBoundaryFinder>

#include <optional>

namespace {

bool startsCharacter(QTextBoundaryFinder& graphemes, qsizetype position)
{
    graphemes.setPosition(position);
    return graphemes.isAtBoundary();
}

} // namespace

HostSearch::HostSearch(const QString& text) : text_(text.normalized(QString::NormalizationForm_D))
{}

bool HostSearch::matches(const QString& host) const
{
    // Both sides decomposed, so that canonically equivalent spellings compare equal code unit
    // for code unit; the boundaries then keep a match from taking half a character.
    const QString name = host.normalized(QString::NormalizationForm_D);
    std::optional<QTextBoundaryFinder> graphemes; // only where the text occurs at all
    for (qsizetype at = name.indexOf(text_); at >= 0; at = name.indexOf(text_, at + 1)) {
        if (!graphemes)
            graphemes.emplace(QTextBoundaryFinder::Grapheme, name);
        if (startsCharacter(*graphemes, at) && startsCharacter(*graphemes, at + text_.size()))
            return true;
    }
    return false;
}
