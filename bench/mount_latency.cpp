// Time from a mount request to its confirmation, against Debian's sshfs alone mounting the same
// host until a statvfs on the mount point returns. Runs inside the end-to-end environment:
//   TOLLVANE_COMPAT_DIR=build/compat tests/e2e/run-in-namespace.sh build/bench/mount_latency [runs]

#include "mount/Tollvane.h"
#include "platform/FileSystem.h"
#include "platform/NotificationCenter.h"
#include "platform/StandardOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sys/statvfs.h>

using namespace Qt::StringLiterals;

namespace {

// The echo would drown the figures.
class Silent : public StandardOutput
{
public:
    void writeLine(const QString&) override {}
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool waitForNoClient(const QString& mountPoint)
{
    return QTest::qWaitFor(
        [&] {
            QProcess pgrep;
            pgrep.start(u"pgrep"_s, {u"-f"_s, "^/usr/bin/sshfs .*"_L1 + mountPoint});
            pgrep.waitForFinished();
            return pgrep.exitCode() != 0;
        },
        30000);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const QString config = qEnvironmentVariable("TOLLVANE_E2E_CONFIG");
    if (config.isEmpty()) {
        std::fprintf(stderr, "run through tests/e2e/run-in-namespace.sh\n");
        return 2;
    }
    Platform platform = Platform::system();
    platform.standardOutput = std::make_shared<Silent>();
    Tollvane coordinator(config, platform);
    std::shared_ptr<SSHFSServer> server;
    for (const auto& s : coordinator.config->servers) {
        if (s->host == "reachable"_L1)
            server = s;
    }
    server->createMountPoint();

    std::vector<double> ours, alone;
    for (int run = 0; run < runs; ++run) {
        // Through the coordinator: request to confirmation.
        QElapsedTimer timer;
        timer.start();
        coordinator.scheduleCommand(server, true, true);
        if (!QTest::qWaitFor([&] { return !server->handling; }, 30000) || !server->isMounted())
            return 1;
        ours.push_back(timer.nsecsElapsed() / 1e6);
        coordinator.scheduleCommand(server, false, true);
        if (!QTest::qWaitFor([&] { return !server->handling; }, 30000) ||
            !waitForNoClient(server->path))
            return 1;
        server->createMountPoint();

        // Debian's client alone: start to a statvfs that answers.
        QProcess sshfs;
        sshfs.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        sshfs.setStandardErrorFile(QProcess::nullDevice());
        timer.restart();
        sshfs.start(u"/usr/bin/sshfs"_s, {u"-f"_s, u"-o"_s, u"debug"_s, u"-F"_s, config,
                                          u"reachable:/"_s, server->path});
        const QByteArray path = QFile::encodeName(server->path);
        struct statvfs info
        {
        };
        while (!FileSystem::isMountRoot(server->path)) // a few ms; busy on purpose, no sleep
            if (sshfs.state() == QProcess::NotRunning)
                return 1;
        if (statvfs(path.constData(), &info) != 0)
            return 1;
        alone.push_back(timer.nsecsElapsed() / 1e6);
        QProcess::execute(u"/usr/sbin/diskutil"_s, {u"unmountDisk"_s, u"force"_s, server->path});
        sshfs.waitForFinished(30000);
        server->createMountPoint();
    }
    const double a = median(ours), b = median(alone);
    std::printf("runs: %d\nrequest to confirmation (median): %.1f ms\n", runs, a);
    std::printf("Debian sshfs alone, start to statvfs (median): %.1f ms\nratio: %.3f\n", b, a / b);
    return 0;
}
