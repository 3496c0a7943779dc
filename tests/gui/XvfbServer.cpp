#include "XvfbServer.h"

#include <QByteArray>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

XvfbServer::XvfbServer()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Xvfb writes the number of the display it chose to fd 3 once it accepts clients.
        if (::dup2(pipe[1], 3) < 0 || ::fcntl(3, F_SETFD, 0) < 0)
            ::_exit(127);
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                "1280x1024x24", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe[1]);
    if (pid < 0) {
        ::close(pipe[0]);
        return;
    }
    pid_ = pid;
    QByteArray display;
    pollfd ready{pipe[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 10000) == 1 && ::read(pipe[0], &c, 1) == 1 && c != '\n')
        display += c;
    ::close(pipe[0]);
    if (display.isEmpty()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return;
    }
    ::setenv("DISPLAY", (':' + display).constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

XvfbServer::~XvfbServer()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}
