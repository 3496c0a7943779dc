#include "ui/SSHFSTable.h"

#include "mount/Tollvane.h"
#include "ui/HostRowView.h"
#include "ui/HostSearch.h"
#include "ui/HostTableModel.h"
#include "ui/HostTableView.h"
#include "ui/MessageBoxAlert.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {
// Qt's own clear button takes its picture from an image file, and reading one loads every
// image-format plugin there is: this one is built in.
#include "resources/clear-16.xpm"
} // namespace

SSHFSTable::SSHFSTable(QWidget* parent) : SSHFSTable(Tollvane::shared(), parent)
{
    coordinator_.setAlert(std::make_shared<MessageBoxAlert>());
}

SSHFSTable::SSHFSTable(Tollvane& coordinator, QWidget* parent)
    : QWidget(parent), coordinator_(coordinator), ui_(std::make_unique<Ui::MainWindow>())
{
    servers = hostList();
    ui_->setupUi(this);
    sshTable = ui_->sshTable;
    searchField = ui_->searchField;
    filterBox = ui_->filterBox;

    model_ = new HostTableModel(servers, this);
    ui_->sshTable->setModel(model_);
    ui_->sshTable->setRowFactory([this](int row) { return viewForRow(row); });
    connect(ui_->filterBox, &QComboBox::activated, this,
            [this] { filterChangedWithSender(ui_->filterBox); });

    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        ui_->searchField->setFocus(Qt::ShortcutFocusReason);
        ui_->searchField->selectAll();
    });
    auto* clear = new QShortcut(QKeySequence(Qt::Key_Escape), ui_->searchField);
    clear->setContext(Qt::WidgetShortcut);
    connect(clear, &QShortcut::activated, ui_->searchField, &QLineEdit::clear);
    QAction* clearButton = ui_->searchField->addAction(QIcon(QPixmap::fromImage(QImage(clear16))),
                                                       QLineEdit::TrailingPosition);
    clearButton->setText(u"Clear"_s);
    clearButton->setVisible(false);
    connect(clearButton, &QAction::triggered, ui_->searchField, &QLineEdit::clear);
    connect(ui_->searchField, &QLineEdit::textChanged, clearButton,
            [clearButton](const QString& text) { clearButton->setVisible(!text.isEmpty()); });
    // Where a person starts typing.
    ui_->searchField->setFocus(Qt::OtherFocusReason);
    auto* close = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(close, &QShortcut::activated, this, [this] { window()->close(); });

    viewDidLoad();
}

SSHFSTable::~SSHFSTable()
{
    NotificationCenter::defaultCenter().removeObserver(reloadObserver_);
    // The model reads `servers`, which goes before the child widgets do.
    delete model_;
}

void SSHFSTable::viewDidLoad()
{
    connect(ui_->searchField, &QLineEdit::textChanged, this, [this] { controlTextDidChange(); });
    ui_->filterBox->setCurrentIndex(0);
    // No reload here: until the first one the table shows the list as it was made.
    reloadObserver_ = NotificationCenter::defaultCenter().addObserver(Tollvane::reloadServers,
                                                                      [this] { reload(); });
}

std::vector<std::shared_ptr<SSHFSServer>> SSHFSTable::hostList() const
{
    std::vector<std::shared_ptr<SSHFSServer>> hosts;
    if (!coordinator_.config)
        return hosts;
    for (const auto& server : coordinator_.config->servers) {
        if (!server->host.isEmpty() && server->host != "*"_L1)
            hosts.push_back(server);
    }
    return hosts;
}

void SSHFSTable::reload()
{
    const QString title = filterBox->currentIndex() < 0 ? QString() : filterBox->currentText();
    std::optional<bool> mounted;
    if (title == "Mounted"_L1)
        mounted = true;
    else if (title == "Unmounted"_L1)
        mounted = false;
    rebuildServers(mounted);
}

void SSHFSTable::filterChangedWithSender(QComboBox*)
{
    reload();
}

void SSHFSTable::controlTextDidChange()
{
    reload();
}

void SSHFSTable::rebuildServers(std::optional<bool> mounted)
{
    auto kept = hostList();
    // Both filters keep or drop each host on its own, so their order changes nothing shown; the
    // search goes first so that a keystroke asks the file system about the matching hosts only.
    if (const QString text = searchField->text(); !text.isEmpty()) {
        const HostSearch search(text);
        std::erase_if(kept, [&](const auto& server) { return !search.matches(server->host); });
    }
    if (mounted) {
        std::erase_if(kept, [&](const auto& server) { return server->isMounted() != *mounted; });
    }
    model_->reload([&] { servers = std::move(kept); });
}

QWidget* SSHFSTable::viewForRow(int row)
{
    auto* view = new HostRowView(*servers[size_t(row)], row);
    QPushButton* button = view->button();
    connect(button, &QPushButton::clicked, this,
            [this, button] { buttonPressedWithSender(button); });
    connect(view, &HostRowView::openRequested, this, [this, button] { openWithSender(button); });
    return view;
}

void SSHFSTable::openWithSender(QPushButton* sender)
{
    // Asked now, not when the row was built; the desktop's own handler for folders opens it.
    const std::shared_ptr<SSHFSServer> record = recordTaggedBy(sender);
    if (record && record->isMounted())
        QDesktopServices::openUrl(QUrl::fromLocalFile(record->path));
}

std::shared_ptr<SSHFSServer> SSHFSTable::recordTaggedBy(QPushButton* button) const
{
    bool tagged = false;
    const int tag = button->property(HostRowView::tagProperty).toInt(&tagged);
    if (!tagged || tag < 0 || size_t(tag) >= servers.size())
        return nullptr;
    return servers[size_t(tag)];
}

void SSHFSTable::buttonPressedWithSender(QPushButton* sender)
{
    // The one read of the list: every request below reloads the table, which replaces the list
    // and disposes of this button, and the press stays with the host it was made on.
    const std::shared_ptr<SSHFSServer> record = recordTaggedBy(sender);
    if (!record)
        return;
    const QString title = sender->text();
    if (title == "Unmount"_L1) {
        coordinator_.scheduleCommand(record, false, true);
    } else if (title != "..."_L1) {
        coordinator_.scheduleCommand(record, false, false);
        record->removeMountPoint();
        record->createMountPoint();
        coordinator_.scheduleCommand(record, true, true);
    }
}
