#include "catalogue/SSHFSServer.h"

#include "catalogue/Graphemes.h"
#include "catalogue/MountRequests.h"
#include "platform/FileSystem.h"
#include "platform/ModalAlert.h"
#include "platform/UserAccount.h"

using namespace Qt::StringLiterals;

SSHFSServer::SSHFSServer(const QString& block)
{
    const Graphemes text(block);
    for (const auto& line : text.split(text.all(), u'\n')) {
        if (line.isEmpty())
            continue;
        std::vector<Graphemes::Range> words;
        for (const auto& word : text.split(line, u' ')) {
            if (!word.isEmpty())
                words.push_back(word);
        }
        if (words.size() < 2 || text.text(words[0]).toLower() != "host"_L1)
            continue;
        host = text.text(words[1]);
        path = UserAccount::userFolder() + "/Volumes/"_L1 + host;
    }
}

bool SSHFSServer::isMounted()
{
    if (host != placeHost_ || path != placePath_) {
        placeHost_ = host;
        placePath_ = path;
        place_ = FileSystem::placeBelow(volumesFolder(), host);
    }
    return FileSystem::isMountRoot(place_);
}

// The mount point is the volumes folder followed by the host; the host is walked down from there,
// so that a name like ".." or "a/b" below a mounted "a" can never reach outside a mount point of
// its own.
QString SSHFSServer::volumesFolder() const
{
    if (host.isEmpty() || !path.endsWith(u'/' + host))
        return {};
    return path.chopped(host.size() + 1);
}

void SSHFSServer::createMountPoint()
{
    FileSystem::createDirectoryBelow(volumesFolder(), host);
}

void SSHFSServer::removeMountPoint()
{
    FileSystem::removeItemBelow(volumesFolder(), host);
}

void SSHFSServer::showConnectionError(MountRequests& coordinator)
{
    // An entry that is not owned by a shared pointer is handed on without taking ownership.
    std::shared_ptr<SSHFSServer> self = weak_from_this().lock();
    if (!self)
        self = std::shared_ptr<SSHFSServer>(std::shared_ptr<SSHFSServer>(), this);
    coordinator.scheduleCommand(self, false, true);
    coordinator.alert().runModal(u"Error"_s, "Couldn't connect to "_L1 + host);
}
