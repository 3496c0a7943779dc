// Feeds arbitrary bytes, decoded as UTF-8, to the catalogue parser and checks what must hold for
// any text: one entry per double line feed plus one, and a mount point for every named entry.
#include "catalogue/SSHFSConfig.h"
#include "platform/UserAccount.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Line feeds that are characters of their own: an LF right after a CR belongs to the CR.
qsizetype separators(const QString& text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i + 1 < text.size();) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r') && text[i + 1] == u'\n') {
            ++count;
            i += 2;
        } else {
            ++i;
        }
    }
    return count;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    SSHFSConfig config(text);
    config.parseServers();
    check(qsizetype(config.servers.size()) == separators(text) + 1);
    static const QString prefix = UserAccount::userFolder() + QStringLiteral("/Volumes/");
    for (const auto& server : config.servers) {
        check(server->host.isEmpty() == server->path.isEmpty());
        check(server->host.isEmpty() || server->path == prefix + server->host);
        check(!server->host.contains(u' ') || server->host.size() > 1); // never a lone blank
        check(!server->handling);
    }
    return 0;
}
