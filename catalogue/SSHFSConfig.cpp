#include "catalogue/SSHFSConfig.h"

#include "catalogue/Graphemes.h"

SSHFSConfig::SSHFSConfig(const QString& contents) : contents(contents) {}

void SSHFSConfig::parseServers()
{
    const Graphemes text(contents);
    for (const auto& block : text.split(text.all(), u'\n', true))
        servers.push_back(std::make_shared<SSHFSServer>(text.text(block)));
}
