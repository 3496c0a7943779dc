#include "ui/HostSearch.h"

#include "catalogue/Graphemes.h"

#include <optional>

HostSearch::HostSearch(const QString& text) : text_(text.normalized(QString::NormalizationForm_D))
{}

bool HostSearch::matches(const QString& host) const
{
    // Both sides decomposed, so that canonically equivalent spellings compare equal code unit
    // for code unit; the boundaries then keep a match from taking half a character, a character
    // being what the catalogue cuts names at.
    const QString name = host.normalized(QString::NormalizationForm_D);
    std::optional<Graphemes> graphemes; // only where the text occurs at all
    for (qsizetype at = name.indexOf(text_); at >= 0; at = name.indexOf(text_, at + 1)) {
        if (!graphemes)
            graphemes.emplace(name);
        if (graphemes->startsCharacter(at) && graphemes->startsCharacter(at + text_.size()))
            return true;
    }
    return false;
}
