#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class SSHFSServer;

// The view of one host row: the host name at the left, selectable so that it can be copied, and
// at the right an 80-pixel button titled after what a press will do: "Mount", "Unmount", or "..."
// (disabled) while a mount or unmount of the host is under way. Everything is read from the record
// when the view is built, the mount state included; the view never changes afterwards. On the
// name, a double-click, Enter or the first item of its context menu, "Open", asks for the volume
// to be opened; the item is offered on a mounted row only.
class HostRowView : public QWidget
{
    Q_OBJECT

public:
    // The button's property holding the index of its row in the list it was built from.
    static constexpr char tagProperty[] = "tag";

    HostRowView(SSHFSServer& record, int tag, QWidget* parent = nullptr);

    QLabel* label() const { return label_; }
    QPushButton* button() const { return button_; }
    bool mounted() const { return mounted_; }

Q_SIGNALS:
    void openRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMenu(const QPoint& at);

    QLabel* label_;
    QPushButton* button_;
    bool mounted_ = false;
};
