// tollvane-askpass: ssh runs it with its question as the one argument, SSH_ASKPASS_PROMPT saying
// how it wants the answer, and reads the answer from its standard output. Exit status 1 means
// cancelled.

#include "AskpassDialog.h"
#include "AskpassPrompt.h"
#include "Keyring.h"
#include "PromptRecord.h"
#include "SshAccount.h"
#include "compat/common/LeakCheck.h"
#include "compat/common/ProcessGroup.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <string.h>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The ssh that asks, held by a pidfd so that a later signal cannot reach another process; -1
// when the parent is not ssh.
int askingSsh(pid_t parent)
{
    if (ProcessGroup::nameOf(parent) != "ssh")
        return -1;
    return ProcessGroup::hold(parent, [&] { return getppid() == parent; });
}

// ssh takes a failed or cancelled askpass for an empty answer and sends it, up to three times
// for a password: ending it instead spares the account those attempts. The note is the reason
// the mount adapter then gives, as ssh, ended, says nothing.
void endAttempt(int ssh, std::string_view note)
{
    if (ssh < 0)
        return;
    if (write(STDERR_FILENO, note.data(), note.size()) < 0) {
        // nobody reads it
    }
    ProcessGroup::signal(ssh, SIGTERM);
}

// For Qt's fatal errors (no display to show the dialog on), after which it aborts.
int askingSshForFatal = -1;

} // namespace

int main(int argc, char* argv[])
{
    // No core file holds a secret, and the user's other processes cannot read this one's memory.
    prctl(PR_SET_DUMPABLE, 0);
    const char* hint = std::getenv("SSH_ASKPASS_PROMPT");
    const AskpassPrompt prompt(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(),
                               hint ? hint : "");
    const pid_t parent = getppid();
    const int ssh = prompt.kind() == AskpassPrompt::Kind::Secret ? askingSsh(parent) : -1;
    askingSshForFatal = ssh;
    // Nothing of Qt's on standard error: ssh passes it to the mount adapter, which reads it for
    // failures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
        if (type == QtFatalMsg)
            endAttempt(askingSshForFatal, "tollvane-askpass: no dialog could be shown\n");
    });

    // Qt sees no argument of ssh's: a prompt is never taken for one of its options.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    // The answer may still be on its way to the keyring when the dialog closes.
    QApplication::setQuitOnLastWindowClosed(false);
    AskpassDialog dialog(prompt);
    SshAccount account;
    Keyring keyring;
    std::optional<KeyringEntry> entry;
    std::optional<PromptRecord> record; // set with the entry
    int status = 1;
    QString kept; // a new answer to store
    QObject::connect(&dialog, &QDialog::finished, &application, [&] {
        status = dialog.finish(STDOUT_FILENO, entry ? &kept : nullptr);
        if (status == 0 && record)
            record->noteAnswer(false);
        if (kept.isEmpty())
            return QCoreApplication::quit();
        keyring.write(*entry, kept, [&](bool stored) {
            if (stored)
                record->noteStored();
            explicit_bzero(kept.data(), static_cast<std::size_t>(kept.size()) * sizeof(QChar));
            QCoreApplication::quit();
        });
    });
    // The stored answer, given without a dialog when the record allows; else the dialog.
    const auto lookUp = [&](std::optional<KeyringEntry> found) {
        entry = std::move(found);
        if (!entry)
            return dialog.present();
        record.emplace(qEnvironmentVariable("XDG_RUNTIME_DIR"), parent, entry->label());
        keyring.read(*entry, [&](Keyring::Lookup lookup, const QString& stored) {
            if (lookup == Keyring::Lookup::Found && record->mayAnswer()) {
                record->noteAnswer(true);
                status = AskpassDialog::writeSecret(STDOUT_FILENO, stored) ? 0 : 1;
                return QCoreApplication::quit();
            }
            if (lookup != Keyring::Lookup::NoKeyring)
                dialog.offerRemembering(entry->what(),
                                        lookup == Keyring::Lookup::Found && record->refused());
            dialog.present();
        });
    };
    // From the running event loop, which a stored answer ends before any window shows. Only an
    // ssh's question is answered from the keyring: the record goes by its process.
    QTimer::singleShot(0, &application, [&] {
        if (ssh < 0)
            return dialog.present();
        if (!KeyringEntry::wantsAccount(prompt))
            return lookUp(KeyringEntry::forPrompt(prompt, {}, {}));
        account.resolve(parent, [&](const SshAccount::Route& route) {
            lookUp(KeyringEntry::forPrompt(prompt, route.account, route.alias));
        });
    });
    application.exec();
    if (status != 0)
        endAttempt(ssh, "tollvane-askpass: cancelled\n");
    LeakCheck::now();
    return status;
}
