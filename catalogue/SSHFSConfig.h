#pragma once

#include "catalogue/SSHFSServer.h"

#include <QString>

#include <memory>
#include <vector>

// The parsed SSH configuration: its text and one host entry per block, in file order.
class SSHFSConfig
{
public:
    explicit SSHFSConfig(const QString& contents);

    QString contents;
    std::vector<std::shared_ptr<SSHFSServer>> servers;

    // Appends one entry per block of `contents` (blocks are cut at two line feeds in a row).
    void parseServers();
};
