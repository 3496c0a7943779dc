#include "AskpassDialog.h"

#include "ui_AskpassDialog.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QStringEncoder>

#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include <string.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void maskSecretText(QAccessibleEvent* event);

void forward(QAccessibleEvent* event)
{
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(&maskSecretText);
}

QString stars(const QString& text)
{
    return QString(text.size(), u'*');
}

// Qt puts every character typed into a line edit on the accessibility bus, those of a password
// field included, where any listener hears them. Such a field's changes go out with stars, as
// Qt's own accessible value of the field reads.
void maskSecretText(QAccessibleEvent* event)
{
    const auto* field = qobject_cast<const QLineEdit*>(event->object());
    if (!field || field->echoMode() == QLineEdit::Normal) {
        forward(event);
        return;
    }
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto* change = static_cast<QAccessibleTextInsertEvent*>(event);
        QAccessibleTextInsertEvent masked(event->object(), change->changePosition(),
                                          stars(change->textInserted()));
        masked.setCursorPosition(change->cursorPosition());
        forward(&masked);
        break;
    }
    case QAccessible::TextRemoved: {
        const auto* change = static_cast<QAccessibleTextRemoveEvent*>(event);
        QAccessibleTextRemoveEvent masked(event->object(), change->changePosition(),
                                          stars(change->textRemoved()));
        masked.setCursorPosition(change->cursorPosition());
        forward(&masked);
        break;
    }
    case QAccessible::TextUpdated: {
        const auto* change = static_cast<QAccessibleTextUpdateEvent*>(event);
        QAccessibleTextUpdateEvent masked(event->object(), change->changePosition(),
                                          stars(change->textRemoved()),
                                          stars(change->textInserted()));
        masked.setCursorPosition(change->cursorPosition());
        forward(&masked);
        break;
    }
    default:
        forward(event);
    }
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

// From a buffer of our own that is overwritten afterwards.
bool AskpassDialog::writeSecret(int fd, const QString& secret)
{
    QStringEncoder encoder(QStringEncoder::Utf8);
    std::vector<char> line(static_cast<std::size_t>(encoder.requiredSpace(secret.size())) + 1);
    char* end = encoder.appendToBuffer(line.data(), secret);
    *end++ = '\n';
    const bool written = writeAll(fd, std::string_view(line.data(), end - line.data()));
    explicit_bzero(line.data(), line.size());
    return written;
}

AskpassDialog::AskpassDialog(const AskpassPrompt& prompt, QWidget* parent)
    : QDialog(parent), kind_(prompt.kind()), ui_(std::make_unique<Ui::AskpassDialog>())
{
    QAccessible::installUpdateHandler(&maskSecretText);
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    ui_->prompt->setText(prompt.text());
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // Buttons of our own: the standard ones bring their icons, whose loading (the icon theme and
    // every image-format plugin) costs a fifth of this program's start-up.
    const auto add = [this](const QString& title, QDialogButtonBox::ButtonRole role,
                            const QString& description = {}) {
        QPushButton* button = ui_->buttons->addButton(title, role);
        button->setAccessibleDescription(description);
        return button;
    };
    // Enter answers a secret; trusting a host key or saying yes takes a deliberate press, as a
    // stray Enter or Space meant for another window must not trust anything.
    QPushButton* preferred = nullptr;
    switch (kind_) {
    case AskpassPrompt::Kind::Secret:
        ui_->answer->setAccessibleName(prompt.text().simplified());
        ui_->answer->setAccessibleDescription(u"What you type is not shown. Enter sends it, "
                                              "Escape cancels."_s);
        preferred = add(u"&OK"_s, QDialogButtonBox::AcceptRole, u"Sends what you typed"_s);
        add(u"&Cancel"_s, QDialogButtonBox::RejectRole, u"Does not connect"_s);
        break;
    case AskpassPrompt::Kind::HostKey:
        add(u"C&onnect"_s, QDialogButtonBox::AcceptRole, u"Trusts this host key and connects"_s);
        preferred = add(u"&Cancel"_s, QDialogButtonBox::RejectRole, u"Does not connect"_s);
        break;
    case AskpassPrompt::Kind::Confirm:
        add(u"&Yes"_s, QDialogButtonBox::YesRole);
        preferred = add(u"&No"_s, QDialogButtonBox::NoRole);
        break;
    case AskpassPrompt::Kind::Notice:
        preferred = add(u"&Close"_s, QDialogButtonBox::RejectRole);
        break;
    }
    preferred->setDefault(true);
    if (kind_ == AskpassPrompt::Kind::Secret) {
        ui_->answer->setFocus();
    } else {
        ui_->answer->hide();
        preferred->setFocus();
        // Read out with the dialog, as the focus is on a button (the field's name carries it).
        setAccessibleDescription(prompt.text());
    }
    adjustSize(); // to the prompt's lines
}

AskpassDialog::~AskpassDialog() = default;

void AskpassDialog::offerRemembering(const QString& what, bool refused)
{
    if (kind_ != AskpassPrompt::Kind::Secret)
        return;
    ui_->remember->show();
    if (refused) {
        ui_->note->setText(u"The %1 stored in the keyring was not accepted."_s.arg(what));
        ui_->note->show();
        // Read out first: the keyboard is in the field.
        ui_->answer->setAccessibleDescription(ui_->note->text() + u' ' +
                                              ui_->answer->accessibleDescription());
    }
    adjustSize();
}

void AskpassDialog::present()
{
    show();
    raise();
    activateWindow();
}

int AskpassDialog::finish(int fd, QString* kept)
{
    QString secret = ui_->answer->text();
    // The field lets go of its text (and of its undo steps), which leaves `secret` the only
    // holder of that memory: it is overwritten below, not merely freed.
    ui_->answer->setText(QString());
    int status = 1;
    if (result() == Accepted) {
        switch (kind_) {
        case AskpassPrompt::Kind::Secret:
            status = writeSecret(fd, secret) ? 0 : 1;
            break;
        case AskpassPrompt::Kind::HostKey:
            status = writeAll(fd, "yes\n") ? 0 : 1;
            break;
        case AskpassPrompt::Kind::Confirm:
        case AskpassPrompt::Kind::Notice:
            status = 0;
            break;
        }
    } else if (kind_ == AskpassPrompt::Kind::Notice) {
        status = 0; // nothing was asked, so nothing was refused
    }
    if (status == 0 && kept && !ui_->remember->isHidden() && ui_->remember->isChecked())
        std::swap(*kept, secret);
    if (!secret.isEmpty())
        explicit_bzero(secret.data(), static_cast<std::size_t>(secret.size()) * sizeof(QChar));
    return status;
}
