#include "compat/askpass/AskpassDialog.h"
#include "compat/askpass/KeyringEntry.h"
#include "compat/askpass/PromptRecord.h"
#include "compat/sshfs/SshLogins.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::string_literals;

// The askpass dialog's answers and what it keeps in the keyring, and the fate of a stored answer
// as the askpass and the adapter note it. (The keyring itself is the end-to-end table's.)
class TestCompat : public QObject
{
    Q_OBJECT

    // LoggedIn*: ssh's report in the client's output, as Debian 12's and Debian 13's ssh word
    // it, or in the output of another client's process group.
    enum Step { StoredAnswer, TypedAnswer, LoggedIn, LoggedIn13, LoggedInElsewhere, NewSsh };

private Q_SLOTS:
    // ssh's prompt (with SSH_ASKPASS_PROMPT), what is typed, whether "Remember in keyring" is
    // ticked and how the dialog is left (a button, a key or "close"): the buttons it offered and
    // what ssh then gets, which alone is kept for the keyring, only when ticked.
    void answers_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QByteArray>("hint");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        const auto row = [](const char* name, const char* prompt, const char* hint,
                            const char* typed, const char* leave, const char* buttons, int status,
                            const char* output, bool remember = false) {
            QTest::newRow(name) << QString::fromUtf8(prompt) << QByteArray(hint)
                                << QString::fromUtf8(typed) << remember << QString::fromUtf8(leave)
                                << QString::fromUtf8(buttons).split(u' ') << status
                                << QString::fromUtf8(output);
        };
        const char* hostKey = "Are you sure you want to continue connecting (yes/no)? ";
        row("password", "u@h's password: ", "", "pä w", "Return", "OK Cancel", 0, "pä w\n");
        row("password, remembered", "u@h's password: ", "", "pä w", "OK", "OK Cancel", 0, "pä w\n",
            true);
        row("Cancel", "Enter PIN for key k: ", "", "12", "Cancel", "OK Cancel", 1, "", true);
        row("new host key",
            "Key SHA256:a0Z.\nAre you sure you want to continue connecting "
            "(yes/no/[fingerprint])? ",
            "", "no", "Connect", "Connect Cancel", 0, "yes\n");
        row("new host key, a stray Enter", hostKey, "", "", "Return", "Connect Cancel", 1, "");
        row("changed host key", hostKey, "", "", "close", "Connect Cancel", 1, "");
        row("confirm", "Allow use of key k?", "confirm", "", "Yes", "Yes No", 0, "");
        row("confirm, a stray Enter", "Allow use of key k?", "confirm", "", "Return", "Yes No", 1,
            "");
        row("notice", "Confirm user presence", "none", "", "Return", "Close", 0, "");
    }

    void answers()
    {
        QFETCH(QString, prompt);
        QFETCH(QByteArray, hint);
        QFETCH(QString, typed);
        QFETCH(bool, remember);
        QFETCH(QString, leave);
        QFETCH(QStringList, buttons);
        QFETCH(int, status);
        QFETCH(QString, output);
        AskpassDialog dialog(AskpassPrompt(prompt, hint));
        dialog.offerRemembering(u"password"_s, false);
        dialog.present();
        for (const QChar c : typed)
            QTest::sendKeyEvent(QTest::Click, dialog.focusWidget(), Qt::Key_unknown, c, {});
        if (remember)
            QTest::mouseClick(dialog.findChild<QCheckBox*>(), Qt::LeftButton, {}, QPoint(2, 2));
        QStringList offered;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            offered << button->text().remove(u'&');
            if (offered.last() == leave)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(offered, buttons);
        // A key when no button was meant; close() ends the dialog too.
        if (dialog.isVisible() && !(leave == u"close" && dialog.close()))
            QTest::keyClick(dialog.focusWidget(), QKeySequence::fromString(leave)[0].key());
        int ends[2];
        QCOMPARE(pipe(ends), 0);
        QString kept;
        QCOMPARE(dialog.finish(ends[1], &kept), status);
        QCOMPARE(kept, remember ? output.chopped(1) : QString());
        char written[64];
        close(ends[1]);
        QCOMPARE(QString::fromUtf8(written, read(ends[0], written, sizeof written)), output);
        close(ends[0]);
        const auto* field = dialog.findChild<QLineEdit*>();
        QVERIFY(field->text().isEmpty());
        // The hint about typing only where there is a field to type in.
        QCOMPARE(field->accessibleDescription().isEmpty(), buttons.first() != u"OK");
    }

    // The keyring entries of ssh's questions, by their labels (none: empty), for the account
    // u@h:2222 that ssh -G makes of the host "a".
    void keyringEntry_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("label");
        const QString none;
        QTest::newRow("password") << u"u@h's password: "_s
                                  << u"Tollvane: password for a (u@h:2222)"_s;
        QTest::newRow("another account's") << u"j@h's password: "_s << none;
        QTest::newRow("passphrase")
            << u"Enter passphrase for key '/k/id': "_s << u"Tollvane: passphrase for key /k/id"_s;
        QTest::newRow("relative key path") << u"Enter passphrase for key 'id': "_s << none;
        QTest::newRow("key path that ssh may have cut")
            << "Enter passphrase for key '/"_L1 + QString(99, u'k') + "': "_L1 << none;
        QTest::newRow("PIN") << u"Enter PIN for ECDSA-SK key /k/id: "_s << none;
    }

    void keyringEntry()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, label);
        const auto entry =
            KeyringEntry::forPrompt(AskpassPrompt(prompt, {}), u"u@h:2222"_s, u"a"_s);
        QCOMPARE(entry ? entry->label() : QString(), label);
    }

    // Whether the stored answer may go to an ssh that asks, after the steps before: an ssh (a child
    // of this process, then this process after NewSsh) asking and how it was answered, or the
    // adapter reading that it logged in.
    void promptRecord_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<bool>("shared"); // others may enter the record's folder
        QTest::addColumn<bool>("mayAnswer");
        QTest::addColumn<bool>("refused");
        QTest::newRow("a folder others may enter") << QList<int>{} << true << false << false;
        QTest::newRow("asked again after a typed answer")
            << QList<int>{TypedAnswer} << false << false << false;
        QTest::newRow("a new ssh after one refused it, then logged in with a typed answer")
            << QList<int>{StoredAnswer, TypedAnswer, LoggedIn, NewSsh} << false << false << true;
        QTest::newRow("a new ssh after one that logged in with it")
            << QList<int>{StoredAnswer, LoggedIn, NewSsh} << false << true << false;
        QTest::newRow("a new ssh after one that logged in with it, in Debian 13's words")
            << QList<int>{StoredAnswer, LoggedIn13, NewSsh} << false << true << false;
        QTest::newRow("a new ssh after one that ended; a login in another group's output")
            << QList<int>{StoredAnswer, LoggedInElsewhere, NewSsh} << false << false << true;
    }

    void promptRecord()
    {
        QFETCH(QList<int>, steps);
        QFETCH(bool, shared);
        QFETCH(bool, mayAnswer);
        QFETCH(bool, refused);
        QTemporaryDir runtime;
        const QByteArray folder = QFile::encodeName(runtime.filePath(u"tollvane-askpass"_s));
        QVERIFY(!shared || (mkdir(folder, 0700) == 0 && chmod(folder, 0755) == 0));
        const pid_t first = fork(); // the ssh that asks first, ended by NewSsh
        if (first == 0)
            _exit(pause());
        pid_t ssh = first;
        for (const int step : steps) {
            if (step == NewSsh)
                kill(first, SIGKILL), waitpid(first, nullptr, 0), ssh = getpid();
            else if (step <= TypedAnswer)
                PromptRecord(runtime.path(), ssh, u"u@h:22"_s).noteAnswer(step == StoredAnswer);
            else
                SshLogins(QFile::encodeName(runtime.path()).constData())
                    .take("sshconnect2.c:ssh_userauth2():481 ("s +
                              (step == LoggedIn13 ? "bin=ssh, pid=" : "pid=") +
                              std::to_string(ssh) + "): Authenticated to h ([::1]:22)\r",
                          getpgrp() + (step == LoggedInElsewhere));
        }
        const PromptRecord record(runtime.path(), ssh, u"u@h:22"_s);
        if (ssh == first)
            kill(first, SIGKILL), waitpid(first, nullptr, 0);
        QCOMPARE(record.mayAnswer(), mayAnswer);
        QCOMPARE(record.refused(), refused);
    }
};

QTEST_MAIN(TestCompat)
#include "tst_compat.moc"
