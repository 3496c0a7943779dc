#include "compat/askpass/AskpassDialog.h"
#include "compat/askpass/KeyringEntry.h"
#include "compat/askpass/PromptRecord.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The askpass dialog's answers and what it keeps in the keyring. (The keyring itself is the
// end-to-end table's.)
class TestCompat : public QObject
{
    Q_OBJECT

    enum Step { StoredAnswer, TypedAnswer, TypedAndStored, NewSsh };

private Q_SLOTS:
    // A row: the buttons offered | SSH_ASKPASS_PROMPT | ssh's prompt | what is typed | how the
    // dialog is left (a button, a key or "close") | then what ssh gets: the exit status | the
    // output.
    void answers_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("password") << "OK Cancel||u@h's password: |pä w|Return|0|pä w\n";
        QTest::newRow("Cancel") << "OK Cancel||Enter PIN for key k: |12|Cancel|1|";
        QTest::newRow("unknown text") << "OK Cancel|x|Verification code:|12|Enter|0|12\n";
        QTest::newRow("new host key")
            << "Connect Cancel||Key SHA256:a0Z.\nAre you sure you want to continue "
               "connecting (yes/no/[fingerprint])? |no|Connect|0|yes\n";
        QTest::newRow("new host key, a stray Enter")
            << "Connect Cancel||Are you sure you want to continue connecting (yes/no)? ||Return|1|";
        QTest::newRow("changed host key")
            << "Connect Cancel||Are you sure you want to continue connecting (yes/no)? ||close|1|";
        QTest::newRow("confirm") << "Yes No|confirm|Allow use of key k?||Yes|0|";
        QTest::newRow("confirm, a stray Enter") << "Yes No|confirm|Allow use of key k?||Return|1|";
        QTest::newRow("notice") << "Close|none|Confirm user presence||Return|0|";
    }

    void answers()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(u'|');
        AskpassDialog dialog(AskpassPrompt(part[2], part[1].toUtf8()));
        dialog.offerRemembering(u"password"_s, false);
        dialog.present();
        for (const QChar c : part[3])
            QTest::sendKeyEvent(QTest::Click, dialog.focusWidget(), Qt::Key_unknown, c, {});
        QStringList offered;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            offered << button->text().remove(u'&');
            if (offered.last() == part[4])
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(offered.join(u' '), part[0]);
        // A key when no button was meant; close() ends the dialog too.
        if (dialog.isVisible() && !(part[4] == u"close" && dialog.close()))
            QTest::keyClick(dialog.focusWidget(), QKeySequence::fromString(part[4])[0].key());
        int ends[2];
        QCOMPARE(pipe(ends), 0);
        QString kept; // only a ticked "Remember in keyring" hands the answer over
        QCOMPARE(dialog.finish(ends[1], &kept), part[5].toInt());
        QVERIFY(kept.isEmpty());
        char output[64];
        close(ends[1]);
        QCOMPARE(QString::fromUtf8(output, read(ends[0], output, sizeof output)), part[6]);
        close(ends[0]);
        const auto* field = dialog.findChild<QLineEdit*>();
        QVERIFY(field->text().isEmpty());
        // The hint about typing only where there is a field to type in.
        QCOMPARE(field->accessibleDescription().isEmpty(), !part[0].startsWith(u"OK"));
    }

    // The keyring entries of ssh's questions, by their labels (none: empty), for the account
    // u@h:2222 that the adapter names.
    void keyringEntry_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QByteArray>("hint");
        QTest::addColumn<QString>("label");
        const QByteArray ask; // as a secret
        const QString none;
        QTest::newRow("another account's") << u"j@h's password: "_s << ask << none;
        QTest::newRow("as a yes/no question") << u"u@h's password: "_s << "confirm"_ba << none;
        QTest::newRow("passphrase") << u"Enter passphrase for key '/k/id': "_s << ask
                                    << u"Tollvane: passphrase for key /k/id"_s;
        QTest::newRow("relative key path") << u"Enter passphrase for key 'id': "_s << ask << none;
        QTest::newRow("key path that ssh may have cut")
            << "Enter passphrase for key '/"_L1 + QString(99, u'k') + "': "_L1 << ask << none;
        QTest::newRow("PIN") << u"Enter PIN for ECDSA-SK key /k/id: "_s << ask << none;
        QTest::newRow("new host key")
            << u"Are you sure you want to continue connecting (yes/no)? "_s << ask << none;
    }

    void keyringEntry()
    {
        QFETCH(QString, prompt);
        QFETCH(QByteArray, hint);
        QFETCH(QString, label);
        const auto entry = KeyringEntry::forPrompt(AskpassPrompt(prompt, hint), u"u@h:2222"_s);
        QCOMPARE(entry ? entry->label() : QString(), label);
    }

    // Whether the stored answer may go to an ssh that asks, after the steps before: each an ssh
    // asking (this process, or its parent after NewSsh) and how it was answered.
    void promptRecord_data()
    {
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<bool>("shared"); // others may enter the record's folder
        QTest::addColumn<bool>("mayAnswer");
        QTest::addColumn<bool>("refused");
        QTest::newRow("a folder others may enter") << QList<int>{} << true << false << false;
        QTest::newRow("asked again after the stored answer")
            << QList<int>{StoredAnswer} << false << false << true;
        QTest::newRow("asked again after a typed answer")
            << QList<int>{TypedAnswer} << false << false << false;
        QTest::newRow("a new ssh after it was refused")
            << QList<int>{StoredAnswer, TypedAnswer, NewSsh} << false << false << true;
        QTest::newRow("a new ssh after a new answer was stored")
            << QList<int>{StoredAnswer, TypedAndStored, NewSsh} << false << true << false;
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
        pid_t ssh = getpid();
        for (const int step : steps) {
            if (step == NewSsh) {
                ssh = getppid();
                continue;
            }
            PromptRecord record(runtime.path(), ssh, u"u@h:22"_s);
            record.noteAnswer(step == StoredAnswer);
            if (step == TypedAndStored)
                record.noteStored();
        }
        const PromptRecord record(runtime.path(), ssh, u"u@h:22"_s);
        QCOMPARE(record.mayAnswer(), mayAnswer);
        QCOMPARE(record.refused(), refused);
    }
};

QTEST_MAIN(TestCompat)
#include "tst_compat.moc"
