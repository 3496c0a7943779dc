#pragma once

#include <QString>

// The search of the host list: a case-sensitive substring of the host name, found whatever the
// canonical form of either text (a decomposed "é" finds a precomposed one and the other way
// round), and never in the middle of a character: "e" does not find "é".
class HostSearch
{
public:
    explicit HostSearch(const QString& text);

    bool matches(const QString& host) const;

private:
    QString text_; // canonically decomposed
};
