#pragma once

#include "AskpassPrompt.h"

#include <QDialog>

#include <memory>

namespace Ui {
class AskpassDialog;
}

// The question ssh asks, as a dialog: a secret is typed into a field that shows nothing of it, a
// new host key is trusted with "Connect", a confirmation is answered with Yes or No. Enter sends
// a secret; on the other questions Cancel (No) is the default and holds the focus. Cancel,
// Escape and closing the window answer nothing.
class AskpassDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AskpassDialog(const AskpassPrompt& prompt, QWidget* parent = nullptr);
    ~AskpassDialog() override;

    // Offers "Remember in keyring" below a secret's field, unticked; with `refused`, says first
    // that the `what` ("password", "passphrase") stored there was not accepted.
    void offerRemembering(const QString& what, bool refused);

    // Shows the dialog above other windows, with the keyboard in it.
    void present();

    // Writes the answer, if there is one, with a line feed to `fd`, and returns the exit status:
    // 0 answered, 1 cancelled. The field is emptied and every copy of a secret that this holds
    // is overwritten; a secret sent with "Remember in keyring" ticked goes to `kept` instead,
    // whose holder overwrites it.
    int finish(int fd, QString* kept = nullptr);

    // Writes `secret` as UTF-8 with a line feed to `fd`, as finish() does; true when written.
    static bool writeSecret(int fd, const QString& secret);

private:
    AskpassPrompt::Kind kind_;
    std::unique_ptr<Ui::AskpassDialog> ui_;
};
