#include "platform/ProcessRunner.h"

#include <QEventLoop>
#include <QProcess>

#include <unistd.h>

bool ProcessRunner::run(const QString& program, const QStringList& arguments,
                        const ChunkHandler& standardError)
{
    // The loop first: it gives this thread the event dispatcher that the process's notifiers
    // need, also on a thread that Qt did not start.
    QEventLoop loop;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setReadChannel(QProcess::StandardError);
    process.setChildProcessModifier([] { ::setsid(); });

    bool ended = false;
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [&] { standardError(process.readAllStandardError()); });
    QObject::connect(&process, &QProcess::readChannelFinished, &process, [&] {
        if (!ended)
            standardError(QByteArray());
    });
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });

    process.start();
    if (!process.waitForStarted(-1))
        return false;
    if (!ended)
        loop.exec();
    return true;
}
