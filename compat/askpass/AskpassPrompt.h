#pragma once

#include <QByteArrayView>
#include <QString>

// What ssh asks of tollvane-askpass: its one argument, the prompt, and SSH_ASKPASS_PROMPT, which
// says how the answer is given. Anything not recognised is asked as a secret, as ssh itself
// expects an answer on standard output unless told otherwise.
class AskpassPrompt
{
public:
    enum class Kind {
        Secret,  // a password, passphrase or PIN: the answer is typed and printed
        HostKey, // a host key not yet known: "yes" is printed to trust it
        Confirm, // a yes/no question answered by the exit status alone
        Notice,  // a message that needs no answer; ssh ends the program when it is done
    };

    AskpassPrompt(QString text, QByteArrayView hint);

    Kind kind() const { return kind_; }
    // As ssh wrote it.
    const QString& text() const { return text_; }

private:
    QString text_;
    Kind kind_;
};
