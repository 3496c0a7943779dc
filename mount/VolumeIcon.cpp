#include "mount/VolumeIcon.h"

#include "platform/FileSystem.h"
#include "platform/Resources.h"
#include "platform/UserAccount.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

void installVolumeIcon()
{
    const QString home = UserAccount::homeDirectory();
    installVolumeIcon(home.isEmpty() ? QString() : home + "/Library/Application Support"_L1,
                      Resources::path(u"VolumeIcon"_s, u"icns"_s));
}

void installVolumeIcon(const QString& applicationSupport, const QString& resource)
{
    if (applicationSupport.isEmpty())
        return;
    const QString folder = applicationSupport + "/Tollvane"_L1;
    if (!FileSystem::exists(folder) && !QDir().mkpath(folder))
        return;
    // Anything at the target, even a dangling symbolic link, is left alone: the copy must never
    // write through a link to somewhere else.
    const QString target = folder + "/VolumeIcon.icns"_L1;
    if (FileSystem::exists(target) || resource.isEmpty() || !QFile::exists(resource))
        return;
    if (QFile::copy(resource, target))
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
}
