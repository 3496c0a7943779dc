// The window on a catalogue of its own, for the accessibility test: an assistive technology
// client reads it and presses its buttons from another process. Jobs are held, never run, so a
// pressed "Mount" stays busy; the mount points lie in a temporary directory.
#include "Fakes.h"
#include "HeldQueue.h"
#include "mount/Tollvane.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"tollvane-accessibility-host"_s);
    QTemporaryDir dir;
    QFile config(dir.filePath(u"config"_s));
    if (!config.open(QIODevice::WriteOnly) || config.write("Host alpha\n\nHost beta") < 0)
        return 1;
    config.close();
    Tollvane coordinator(config.fileName(), FakePlatform().platform(std::make_shared<HeldQueue>()));
    for (const auto& server : coordinator.config->servers)
        server->path = dir.filePath(server->host);
    SSHFSTable window(coordinator);
    window.show();
    return QApplication::exec();
}
