#include "platform/StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace {

void writeAll(const char* data, size_t size)
{
    // A reader that went away must not kill the application with SIGPIPE: block it on this
    // thread for the write and swallow the one the write raised.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool broken = false;
    while (size > 0) {
        ssize_t written = ::write(STDOUT_FILENO, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            broken = errno == EPIPE;
            break;
        }
        data += written;
        size -= size_t(written);
    }
    if (broken) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

void StandardOutput::writeLine(const QString& line)
{
    static std::mutex mutex;
    const QByteArray bytes = line.toUtf8() + '\n';
    std::lock_guard lock(mutex);
    writeAll(bytes.constData(), size_t(bytes.size()));
}
