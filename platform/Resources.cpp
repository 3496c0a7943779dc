#include "platform/Resources.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace Qt::StringLiterals;

QString Resources::path(const QString& name, const QString& extension)
{
    const QString file = name + u'.' + extension;
    QStringList candidates{":/"_L1 + file};
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        candidates << dir + "/../share/tollvane/"_L1 + file << dir + u'/' + file;
    }
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}
