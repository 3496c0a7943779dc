#pragma once

#include <QString>

// The files the application carries, compiled into the executable as Qt resources. Looked up as
// "name.extension".
class Resources
{
public:
    // The location of the resource, or an empty string when the application has none.
    static QString path(const QString& name, const QString& extension);
};
