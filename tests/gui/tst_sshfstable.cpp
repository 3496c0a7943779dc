#include "Fakes.h"
#include "HeldQueue.h"
#include "PrivateMounts.h"
#include "WindowProbe.h"
#include "mount/Tollvane.h"
#include "ui/HostRowView.h"
#include "ui/HostTableView.h"
#include "ui/SSHFSTable.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The host window through its real widgets, offscreen, on a catalogue of each test's own. Mount
// points lie in a temporary directory; real mounts (tmpfs) are made in a private mount namespace.
class TestSSHFSTable : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    FakePlatform fakes_;
    std::shared_ptr<HeldQueue> queue_;
    std::unique_ptr<Tollvane> coordinator_;
    std::unique_ptr<SSHFSTable> table_;
    QStringList mounts_;

    // A null configuration leaves the file missing, and the catalogue empty.
    SSHFSTable& open(const QString& config)
    {
        const QString file = dir_->filePath(u"config"_s);
        QFile out(file);
        if (!config.isNull() && (!out.open(QIODevice::WriteOnly) || out.write(config.toUtf8()) < 0))
            qFatal("cannot write the test configuration");
        out.close();
        coordinator_ = std::make_unique<Tollvane>(file, fakes_.platform(queue_));
        if (coordinator_->config) {
            for (const auto& server : coordinator_->config->servers)
                server->path = volume(server->host);
        }
        table_ = std::make_unique<SSHFSTable>(*coordinator_);
        table_->resize(480, 420);
        table_->show();
        if (!QTest::qWaitForWindowExposed(table_.get()))
            qFatal("the window is not shown");
        return *table_;
    }

    QString volume(const QString& host) const { return dir_->filePath(u"Volumes/"_s + host); }

    bool mount(const QString& host)
    {
        QDir().mkpath(volume(host));
        if (!PrivateMounts::mountTmpfs(volume(host)))
            return false;
        mounts_ << volume(host);
        return true;
    }

    QList<HostRowView*> rows() const { return WindowProbe(*table_).rows(); }
    QStringList shownHosts() const { return WindowProbe(*table_).shownHosts(); }
    QPushButton* button(const QString& host) const { return WindowProbe(*table_).button(host); }
    QString title(const QString& host) const { return WindowProbe(*table_).title(host); }

    QStringList listedHosts() const
    {
        QStringList hosts;
        for (const auto& server : table_->servers)
            hosts << server->host;
        return hosts;
    }

    std::shared_ptr<SSHFSServer> record(const QString& host) const
    {
        for (const auto& server : coordinator_->config->servers) {
            if (server->host == host)
                return server;
        }
        return {};
    }

    // Typing, one key event per character, accents and combining marks included.
    static void type(QWidget* widget, const QString& text)
    {
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    // The way a user picks a filter: the keyboard on the pop-up.
    static void chooseFilter(QComboBox* box, const QString& title)
    {
        if (box->findText(title) < 0)
            box->addItem(title);
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < box->count() && box->currentText() != title; ++i)
            QTest::keyClick(box, Qt::Key_Down);
    }

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        fakes_ = FakePlatform();
        queue_ = std::make_shared<HeldQueue>();
    }

    void cleanup()
    {
        queue_->release();
        table_.reset();
        coordinator_.reset();
        for (const QString& path : std::as_const(mounts_)) {
            while (PrivateMounts::unmount(path)) {
            }
        }
        mounts_.clear();
        dir_.reset();
    }

    void listing_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QStringList>("mounted");
        QTest::addColumn<QStringList>("directories"); // plain mount-point directories
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        const QString dbs = u"Host db1\n\nHost mydb\n\nHost DB2"_s;
        const QString abc = u"Host alpha\n\nHost beta\n\nHost gamma"_s;
        const QStringList none;
        QTest::newRow("everything") << dbs << none << none << u"All"_s << QString()
                                    << QStringList{u"db1"_s, u"mydb"_s, u"DB2"_s};
        QTest::newRow("substring anywhere, case-sensitive, in order")
            << dbs << none << none << u"All"_s << u"db"_s << QStringList{u"db1"_s, u"mydb"_s};
        QTest::newRow("the path is not searched")
            << dbs << none << none << u"All"_s << u"Volumes"_s << none;
        QTest::newRow("no host line, \"*\" and a trailing blank line give no row")
            << u"Host *\n\n# only a comment\n\nHost a*b\n\nHost alpha\n\n"_s << none << none
            << u"All"_s << QString() << QStringList{u"a*b"_s, u"alpha"_s};
        QTest::newRow("a name given twice gives two rows")
            << u"Host twin\n\nHost twin"_s << none << none << u"All"_s << u"tw"_s
            << QStringList{u"twin"_s, u"twin"_s};
        QTest::newRow("precomposed search finds a decomposed name")
            << u"Host cafe\u0301\n\nHost cafe"_s << none << none << u"All"_s << u"caf\u00e9"_s
            << QStringList{u"cafe\u0301"_s};
        QTest::newRow("decomposed search finds a precomposed name")
            << u"Host caf\u00e9s"_s << none << none << u"All"_s << u"e\u0301s"_s
            << QStringList{u"caf\u00e9s"_s};
        QTest::newRow("e does not find a decomposed é")
            << u"Host cafe\u0301\n\nHost cafe"_s << none << none << u"All"_s << u"cafe"_s
            << QStringList{u"cafe"_s};
        QTest::newRow("e does not find a precomposed é")
            << u"Host caf\u00e9"_s << none << none << u"All"_s << u"e"_s << none;
        QTest::newRow("a lone accent finds nothing")
            << u"Host cafe\u0301"_s << none << none << u"All"_s << u"\u0301"_s << none;
        QTest::newRow("no configuration at all")
            << QString() << none << none << u"All"_s << QString() << none;

        QTest::newRow("Mounted") << abc << QStringList{u"beta"_s} << QStringList{u"gamma"_s}
                                 << u"Mounted"_s << QString() << QStringList{u"beta"_s};
        QTest::newRow("Unmounted: plain and missing directories")
            << abc << QStringList{u"beta"_s} << QStringList{u"gamma"_s} << u"Unmounted"_s
            << QString() << QStringList{u"alpha"_s, u"gamma"_s};
        QTest::newRow("state first, then search")
            << abc << QStringList{u"alpha"_s, u"beta"_s} << none << u"Mounted"_s << u"a"_s
            << QStringList{u"alpha"_s, u"beta"_s};
        QTest::newRow("Mounted and a search that leaves one")
            << abc << QStringList{u"alpha"_s, u"beta"_s} << none << u"Mounted"_s << u"al"_s
            << QStringList{u"alpha"_s};
        QTest::newRow("one mount point, two rows")
            << u"Host twin\n\nHost solo\n\nHost twin"_s << QStringList{u"twin"_s} << none
            << u"Mounted"_s << QString() << QStringList{u"twin"_s, u"twin"_s};
        QTest::newRow("any other title filters nothing")
            << abc << QStringList{u"beta"_s} << none << u"mounted"_s << QString()
            << QStringList{u"alpha"_s, u"beta"_s, u"gamma"_s};
    }

    void listing()
    {
        QFETCH(QString, config);
        QFETCH(QStringList, mounted);
        QFETCH(QStringList, directories);
        QFETCH(QString, filter);
        QFETCH(QString, search);
        QFETCH(QStringList, expected);

        if (!mounted.isEmpty())
            TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        SSHFSTable& table = open(config);
        for (const QString& host : mounted)
            QVERIFY(mount(host));
        for (const QString& host : directories)
            QVERIFY(QDir().mkpath(volume(host)));

        chooseFilter(table.filterBox, filter);
        QCOMPARE(table.filterBox->currentText(), filter);
        type(table.searchField, search);

        QCOMPARE(listedHosts(), expected);
        QCOMPARE(shownHosts(), expected);
        for (int i = 0; i < expected.size(); ++i) {
            QPushButton* b = rows().at(i)->button();
            QCOMPARE(b->property(HostRowView::tagProperty).toInt(), i);
            QCOMPARE(b->text(), mounted.contains(expected[i]) ? u"Unmount"_s : u"Mount"_s);
        }
    }

    // Until the first reload the table shows the catalogue as it was at construction.
    void noReloadBeforeTheFirstNotification()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        SSHFSTable& table = open(u"Host alpha\n\nHost beta"_s);
        QVERIFY(mount(u"beta"_s));
        QCOMPARE(table.filterBox->currentIndex(), 0);
        QCOMPARE(title(u"beta"_s), u"Mount"_s); // built before the mount
        Tollvane::postReloadServers();
        QCOMPARE(title(u"beta"_s), u"Unmount"_s);
    }

    void clickSelectsNothing_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("key"); // pressed on the table afterwards, 0 for none
        QTest::newRow("click") << Qt::KeyboardModifiers() << 0;
        QTest::newRow("control-click") << Qt::KeyboardModifiers(Qt::ControlModifier) << 0;
        QTest::newRow("click, then select all")
            << Qt::KeyboardModifiers() << int(QKeySequence::SelectAll);
        QTest::newRow("click, then shift-down")
            << Qt::KeyboardModifiers(Qt::ShiftModifier) << int(Qt::Key_Down);
    }

    void clickSelectsNothing()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, key);
        SSHFSTable& table = open(u"Host alpha\n\nHost beta\n\nHost gamma"_s);
        HostRowView* row = rows().at(1);
        // Between the label and the button the click falls through to the table.
        QTest::mouseClick(row, Qt::LeftButton, modifiers,
                          QPoint(row->width() / 2, row->height() / 2));
        QTest::mouseClick(
            table.sshTable->viewport(), Qt::LeftButton, modifiers,
            table.sshTable->visualRect(table.sshTable->model()->index(0, 0)).center());
        if (key == int(QKeySequence::SelectAll))
            QTest::keySequence(table.sshTable, QKeySequence::SelectAll);
        else if (key)
            QTest::keyClick(table.sshTable, Qt::Key(key), modifiers);
        QVERIFY(!table.sshTable->selectionModel()->hasSelection());
        QVERIFY(table.sshTable->selectionModel()->selectedIndexes().isEmpty());
    }

    void buttonStates_data()
    {
        QTest::addColumn<bool>("handling");
        QTest::addColumn<bool>("mounted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("idle, not mounted") << false << false << u"Mount"_s;
        QTest::newRow("idle, mounted") << false << true << u"Unmount"_s;
        QTest::newRow("busy, not mounted") << true << false << u"... (disabled)"_s;
        QTest::newRow("busy, mounted") << true << true << u"... (disabled)"_s;
    }

    void buttonStates()
    {
        QFETCH(bool, handling);
        QFETCH(bool, mounted);
        QFETCH(QString, expected);
        if (mounted)
            TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        open(u"Host alpha"_s);
        if (mounted)
            QVERIFY(mount(u"alpha"_s));
        record(u"alpha"_s)->handling = handling;
        Tollvane::postReloadServers();
        QCOMPARE(title(u"alpha"_s), expected);
    }

    void unmount_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("finalTitle");
        QTest::addColumn<bool>("mountPointLeft");
        QTest::newRow("unmounted") << u"unmounts"_s << u"Mount"_s << false;
        QTest::newRow("volume busy") << u"busy"_s << u"Unmount"_s << true;
        QTest::newRow("diskutil cannot start") << u"cannot start"_s << u"Unmount"_s << true;
    }

    void unmount()
    {
        QFETCH(QString, outcome);
        QFETCH(QString, finalTitle);
        QFETCH(bool, mountPointLeft);
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        const QString path = volume(u"alpha"_s);
        fakes_.runner = std::make_shared<FakeProcessRunner>(
            [=](const QString&, const ProcessRunner::ChunkHandler& chunks) {
                if (outcome == "cannot start"_L1)
                    return false;
                if (outcome == "busy"_L1) {
                    chunks("umount: " + QFile::encodeName(path) + ": target is busy.\n");
                } else {
                    PrivateMounts::unmount(path);
                    chunks("Volume alpha on " + QFile::encodeName(path) + " unmounted\n");
                }
                chunks({});
                return true;
            });
        open(u"Host alpha\n\nHost beta"_s);
        QVERIFY(mount(u"alpha"_s));
        Tollvane::postReloadServers();

        QTest::mouseClick(button(u"alpha"_s), Qt::LeftButton);
        QCOMPARE(title(u"alpha"_s), u"... (disabled)"_s);
        QCOMPARE(title(u"beta"_s), u"Mount"_s);
        QCOMPARE(fakes_.runner->commandLines(), QStringList()); // nothing has started yet
        QCOMPARE(queue_->held(), 1);

        queue_->release();
        QTRY_COMPARE(title(u"alpha"_s), finalTitle);
        QCOMPARE(fakes_.runner->commandLines(),
                 QStringList{"/usr/sbin/diskutil unmountDisk force "_L1 + path});
        QCOMPARE(QFileInfo::exists(path), mountPointLeft);
        QCOMPARE(fakes_.alert->shown(), QStringList());
    }

    void mount_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("finalTitle");
        QTest::addColumn<QStringList>("alerts");
        const QStringList refused{u"Error|Couldn't connect to alpha"_s};
        QTest::newRow("confirmed") << u"statfs"_s << u"Unmount"_s << QStringList();
        QTest::newRow("refused") << u"refused"_s << u"Mount"_s << refused;
        QTest::newRow("client cannot start") << u"cannot start"_s << u"Mount"_s << refused;
    }

    void mount()
    {
        QFETCH(QString, outcome);
        QFETCH(QString, finalTitle);
        QFETCH(QStringList, alerts);
        const bool confirmed = outcome == "statfs"_L1;
        if (confirmed)
            TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        const QString path = volume(u"alpha"_s);
        fakes_.runner = std::make_shared<FakeProcessRunner>(
            [=](const QString& line, const ProcessRunner::ChunkHandler& chunks) {
                if (line.startsWith("/usr/sbin/diskutil"_L1)) {
                    chunks("diskutil: nothing mounted at " + QFile::encodeName(path) + '\n');
                    return true;
                }
                if (outcome == "cannot start"_L1)
                    return false;
                if (confirmed) {
                    PrivateMounts::mountTmpfs(path);
                    chunks("statfs\n");
                } else {
                    chunks("ssh: connect to host 127.0.0.1 port 9: Connection refused\n");
                }
                return true;
            });
        open(u"Host alpha\n\nHost beta"_s);
        QVERIFY(QDir().mkpath(path));
        QFile stale(path + u"/left over"_s);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();

        QTest::mouseClick(button(u"alpha"_s), Qt::LeftButton);
        // Removed and made again, empty, before anything runs; the row is busy.
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(title(u"alpha"_s), u"... (disabled)"_s);
        QCOMPARE(queue_->held(), 2);
        QCOMPARE(fakes_.runner->commandLines(), QStringList());
        QCOMPARE(fakes_.alert->shown(), QStringList());

        queue_->release();
        if (confirmed)
            mounts_ << path;
        QTRY_COMPARE(title(u"alpha"_s), finalTitle);
        QCOMPARE(fakes_.alert->shown(), alerts);
        const QStringList lines = fakes_.runner->commandLines();
        QVERIFY2(lines.size() >= 2, qPrintable(lines.join(u'\n')));
        QCOMPARE(lines[0], "/usr/sbin/diskutil unmountDisk force "_L1 + path);
        QVERIFY(lines[1].startsWith("/usr/local/bin/sshfs "_L1));
        QCOMPARE(title(u"beta"_s), u"Mount"_s);
    }

    // The press takes its record once: the reload inside the first request rebuilds the list,
    // where the pressed row's index now names another host, and disposes of the pressed button.
    void pressKeepsItsRecordAcrossTheReload()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        SSHFSTable& table = open(u"Host alpha\n\nHost beta\n\nHost gamma"_s);
        chooseFilter(table.filterBox, u"Unmounted"_s);
        QCOMPARE(shownHosts(), QStringList({u"alpha"_s, u"beta"_s, u"gamma"_s}));
        QVERIFY(mount(u"alpha"_s)); // the list learns of it only at the next reload

        QPointer<QPushButton> pressed = button(u"beta"_s);
        QTest::mouseClick(pressed, Qt::LeftButton);
        QCOMPARE(listedHosts(), QStringList({u"beta"_s, u"gamma"_s}));
        QVERIFY(record(u"beta"_s)->handling);
        QVERIFY(!record(u"gamma"_s)->handling);
        QVERIFY(QFileInfo(volume(u"beta"_s)).isDir());
        QVERIFY(!QFileInfo::exists(volume(u"gamma"_s)));
        QCOMPARE(title(u"beta"_s), u"... (disabled)"_s);

        QVERIFY(pressed); // disposed of later, never inside its own click
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!pressed);

        queue_->release();
        QTRY_COMPARE(fakes_.runner->commandLines().size(), 3); // unmount, mount, failure unmount
        for (const QString& line : fakes_.runner->commandLines())
            QVERIFY2(line.contains(volume(u"beta"_s)) && !line.contains(u"gamma"_s),
                     qPrintable(line));
    }

    // Thousands of hosts: only the rows in sight are built, and scrolling builds the others.
    void rowsAreBuiltWhenInSight()
    {
        QString config;
        for (int i = 0; i < 2000; ++i)
            config += u"Host host%1\n\n"_s.arg(i);
        SSHFSTable& table = open(config);
        const QStringList first = shownHosts();
        QVERIFY2(first.size() > 3 && first.size() < 40, qPrintable(first.join(u' ')));
        QCOMPARE(first.first(), u"host0"_s);

        table.sshTable->verticalScrollBar()->setValue(
            table.sshTable->verticalScrollBar()->maximum());
        const QStringList last = shownHosts();
        QCOMPARE(last.last(), u"host1999"_s);
        QVERIFY(!last.contains(u"host0"_s));
        for (HostRowView* row : rows()) // every built row indexes the list
            QCOMPARE(
                table.servers[size_t(row->button()->property(HostRowView::tagProperty).toInt())]
                    ->host,
                row->label()->text());
    }

    void keyboard()
    {
        SSHFSTable& table = open(u"Host alpha\n\nHost beta"_s);
        table.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&table));

        QTest::keySequence(&table, QKeySequence::Find);
        QTRY_VERIFY(table.searchField->hasFocus());
        type(table.searchField, u"be"_s);
        QCOMPARE(listedHosts(), QStringList{u"beta"_s});
        QTest::keyClick(table.searchField, Qt::Key_Escape);
        QCOMPARE(listedHosts(), QStringList({u"alpha"_s, u"beta"_s}));

        // Tab reaches the rows' labels and buttons, top to bottom.
        QStringList reached;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            if (auto* label = qobject_cast<QLabel*>(focus))
                reached << label->text();
            else if (auto* b = qobject_cast<QPushButton*>(focus))
                reached << b->text();
        }
        QCOMPARE(reached.mid(0, 4), QStringList({u"alpha"_s, u"Mount"_s, u"beta"_s, u"Mount"_s}));

        // Space presses the focused button; the focus stays in its row, on the label while the
        // button is busy.
        button(u"beta"_s)->setFocus();
        QTest::keyClick(button(u"beta"_s), Qt::Key_Space);
        QCOMPARE(title(u"beta"_s), u"... (disabled)"_s);
        auto* focus = qobject_cast<QLabel*>(QApplication::focusWidget());
        QVERIFY2(focus, qPrintable(QDebug::toString(QApplication::focusWidget())));
        QCOMPARE(focus->text(), u"beta"_s);

        QTest::keyClick(&table, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!table.isVisible());
    }
};

QTEST_MAIN(TestSSHFSTable)
#include "tst_sshfstable.moc"
