#pragma once

#include "catalogue/SSHFSServer.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class HostTableModel;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;
class Tollvane;
namespace Ui {
class MainWindow;
}

// The window's content and its controller: the hosts of the coordinator's catalogue in a table,
// narrowed by a state filter and a search field, rebuilt on every "reloadServers", every change of
// the search text and every choice of the filter. Each row mounts or unmounts its host.
class SSHFSTable : public QWidget
{
    Q_OBJECT

public:
    // The application's window: on the shared coordinator, whose alerts it shows as message
    // boxes.
    explicit SSHFSTable(QWidget* parent = nullptr);
    // On a coordinator of the caller's choosing (tests, tools); the application uses the shared
    // one.
    explicit SSHFSTable(Tollvane& coordinator, QWidget* parent = nullptr);
    ~SSHFSTable() override;

    QPointer<QTableView> sshTable;
    QPointer<QLineEdit> searchField;
    QPointer<QComboBox> filterBox;
    // The rows now shown: row i shows servers[i]. The records are the catalogue's own.
    std::vector<std::shared_ptr<SSHFSServer>> servers;

    void reload();
    void filterChangedWithSender(QComboBox* sender);
    void controlTextDidChange();
    // mounted: true keeps the mounted hosts, false the others, none keeps both.
    void rebuildServers(std::optional<bool> mounted);
    void buttonPressedWithSender(QPushButton* sender);
    // Opens the row's volume in the desktop's file manager; nothing when it is not mounted.
    void openWithSender(QPushButton* sender);
    // A new view for the row, as the table asks for it when the row comes into sight.
    QWidget* viewForRow(int row);

private:
    void viewDidLoad();
    std::vector<std::shared_ptr<SSHFSServer>> hostList() const;
    // The record of the row whose button this is; none for a tag outside the list.
    std::shared_ptr<SSHFSServer> recordTaggedBy(QPushButton* button) const;

    Tollvane& coordinator_;
    std::unique_ptr<Ui::MainWindow> ui_;
    HostTableModel* model_ = nullptr;
    NotificationCenter::Token reloadObserver_ = 0;
};
