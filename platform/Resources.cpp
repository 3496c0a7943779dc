#include "platform/Resources.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

QString Resources::path(const QString& name, const QString& extension)
{
    const QString resource = ":/"_L1 + name + u'.' + extension;
    return QFileInfo(resource).isFile() ? resource : QString();
}
