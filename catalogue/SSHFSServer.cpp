#include "catalogue/SSHFSServer.h"

#include "catalogue/Graphemes.h"
#include "mount/Tollvane.h"
#include "platform/FileSystem.h"
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
        path = "/Users/"_L1 + UserAccount::loginName() + "/Volumes/"_L1 + host;
    }
}

bool SSHFSServer::isMounted()
{
    return FileSystem::isMountRoot(path);
}

void SSHFSServer::createMountPoint()
{
    FileSystem::createDirectory(path);
}

void SSHFSServer::removeMountPoint()
{
    FileSystem::removeItem(path);
}

void SSHFSServer::showConnectionError()
{
    showConnectionError(Tollvane::shared());
}

void SSHFSServer::showConnectionError(Tollvane& coordinator)
{
    // An entry that is not owned by a shared pointer is handed on without taking ownership.
    std::shared_ptr<SSHFSServer> self = weak_from_this().lock();
    if (!self)
        self = std::shared_ptr<SSHFSServer>(std::shared_ptr<SSHFSServer>(), this);
    coordinator.scheduleCommand(self, false, true);
    coordinator.platform().alert->runModal(u"Error"_s, "Couldn't connect to "_L1 + host);
}
