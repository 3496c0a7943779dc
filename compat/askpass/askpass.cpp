// tollvane-askpass: ssh runs it with its question as the one argument, SSH_ASKPASS_PROMPT saying
// how it wants the answer, and reads the answer from its standard output. Exit status 1 means
// cancelled.

#include "AskpassDialog.h"
#include "AskpassPrompt.h"

#include <QApplication>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The ssh that asks, held by a pidfd so that a later signal cannot reach another process; -1
// when the parent is not ssh.
int askingSsh()
{
    const pid_t parent = getppid();
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(parent) + "/comm"), name);
    if (name != "ssh")
        return -1;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, parent, 0));
    return getppid() == parent ? pidfd : -1;
}

} // namespace

int main(int argc, char* argv[])
{
    // No core file holds a secret, and the user's other processes cannot read this one's memory.
    prctl(PR_SET_DUMPABLE, 0);
    // Nothing on standard error: ssh passes it to the mount adapter, which reads it for failures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const char* hint = std::getenv("SSH_ASKPASS_PROMPT");
    const AskpassPrompt prompt(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(),
                               hint ? hint : "");
    const int ssh = prompt.kind() == AskpassPrompt::Kind::Secret ? askingSsh() : -1;

    // Qt sees no argument of ssh's: a prompt is never taken for one of its options.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    AskpassDialog dialog(prompt);
    QObject::connect(&dialog, &QDialog::finished, &application, &QCoreApplication::quit);
    dialog.present();
    application.exec();
    const int status = dialog.finish(STDOUT_FILENO);
    // ssh takes a cancelled secret for an empty one and asks again, up to three times for a
    // password: a cancel here ends its attempt to connect instead.
    if (status != 0 && ssh >= 0) {
        // The reason the mount adapter then gives (ssh, ended, says nothing).
        static const char note[] = "tollvane-askpass: cancelled\n";
        if (write(STDERR_FILENO, note, sizeof note - 1) < 0) {
            // nobody reads it
        }
        syscall(SYS_pidfd_send_signal, ssh, SIGTERM, nullptr, 0);
    }
    return status;
}
