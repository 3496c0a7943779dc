#include "compat/askpass/AskpassDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The askpass dialog's answers.
class TestCompat : public QObject
{
    Q_OBJECT

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
        QCOMPARE(dialog.finish(ends[1]), part[5].toInt());
        char output[64];
        close(ends[1]);
        QCOMPARE(QString::fromUtf8(output, read(ends[0], output, sizeof output)), part[6]);
        close(ends[0]);
        const auto* field = dialog.findChild<QLineEdit*>();
        QVERIFY(field->text().isEmpty());
        // The hint about typing only where there is a field to type in.
        QCOMPARE(field->accessibleDescription().isEmpty(), !part[0].startsWith(u"OK"));
    }
};

QTEST_MAIN(TestCompat)
#include "tst_compat.moc"
