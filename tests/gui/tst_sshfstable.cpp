#include "Fakes.h"
#include "HeldQueue.h"
#include "PrivateMounts.h"
#include "WindowProbe.h"
#include "mount/Tollvane.h"
#include "ui/HostRowView.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The host window through its real widgets, offscreen, on a catalogue of each test's own. Mount
// points lie in a temporary directory; real mounts (tmpfs) are made in a private mount namespace.
// The commands a press schedules wait in a HeldQueue until the test lets them go.
class TestSSHFSTable : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    FakePlatform fakes_;
    std::shared_ptr<HeldQueue> queue_;
    std::unique_ptr<Tollvane> coordinator_;
    std::unique_ptr<SSHFSTable> table_;
    QStringList mounts_;

    // A null configuration leaves the file missing.
    SSHFSTable& open(const QString& config)
    {
        const QString file = dir_->filePath(u"config"_s);
        QFile out(file);
        if (!config.isNull() && (!out.open(QIODevice::WriteOnly) || out.write(config.toUtf8()) < 0))
            qFatal("cannot write the test configuration");
        out.close();
        coordinator_ = std::make_unique<Tollvane>(file, fakes_.platform(queue_));
        if (coordinator_->config) // a missing file leaves it null
            for (const auto& server : coordinator_->config->servers)
                server->path = volume(server->host);
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
        if (!QDir().mkpath(volume(host)) || !PrivateMounts::mountTmpfs(volume(host)))
            return false;
        mounts_ << volume(host);
        return true;
    }

    WindowProbe probe() const { return WindowProbe(*table_); }

    // The way a user picks a filter: the keyboard on the pop-up.
    static void chooseFilter(QComboBox* box, const QString& title)
    {
        QTest::keyClick(box, Qt::Key_Home);
        while (box->currentText() != title && box->currentIndex() < box->count() - 1)
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
        for (const QString& path : std::as_const(mounts_))
            PrivateMounts::unmount(path);
        mounts_.clear();
    }

    // Host lists are space-separated: the hosts mounted (tmpfs), those with a plain directory as
    // mount point, and the rows expected, in order.
    void listing_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("mounted");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("expected");

        const QString dbs = u"Host db1\n\nHost mydb\n\nHost DB2"_s;
        const QString abc = u"Host alpha\n\nHost beta\n\nHost gamma"_s;
        const QString cafes = u"Host cafe\u0301\n\nHost cafe"_s;
        const QString all = u"All"_s, none;
        QTest::newRow("substring anywhere, case-sensitive, in order")
            << dbs << all << u"db"_s << none << none << u"db1 mydb"_s;
        QTest::newRow("no row for \"*\" nor an entry without a name; two for a name given twice")
            << u"Host *\n\n# only a comment\n\nHost twin\n\nHost a*b\n\nHost twin\n\n"_s << all
            << none << none << none << u"twin a*b twin"_s;
        QTest::newRow("precomposed search finds a decomposed name")
            << cafes << all << u"caf\u00e9"_s << none << none << u"cafe\u0301"_s;
        QTest::newRow("decomposed search finds a precomposed name")
            << u"Host caf\u00e9s"_s << all << u"e\u0301s"_s << none << none << u"caf\u00e9s"_s;
        QTest::newRow("e does not find é")
            << cafes << all << u"cafe"_s << none << none << u"cafe"_s;
        QTest::newRow("nor in the middle of a character in an Indic script")
            << u"Host \u0915\u0903\u0300"_s << all << u"\u0915\u0903"_s << none << none << none;
        QTest::newRow("no configuration file") << QString() << all << none << none << none << none;
        QTest::newRow("Mounted") << abc << u"Mounted"_s << none << u"beta"_s << u"gamma"_s
                                 << u"beta"_s;
        QTest::newRow("Unmounted: plain and missing mount points")
            << abc << u"Unmounted"_s << none << u"beta"_s << u"gamma"_s << u"alpha gamma"_s;
        QTest::newRow("Mounted and a search")
            << abc << u"Mounted"_s << u"al"_s << u"alpha beta"_s << none << u"alpha"_s;
    }

    void listing()
    {
        QFETCH(QString, config);
        QFETCH(QString, filter);
        QFETCH(QString, search);
        QFETCH(QString, mounted);
        QFETCH(QString, plain);
        QFETCH(QString, expected);
        if (!mounted.isEmpty())
            TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        SSHFSTable& table = open(config);
        for (const QString& host : mounted.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(mount(host));
        for (const QString& host : plain.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(QDir().mkpath(volume(host)));

        chooseFilter(table.filterBox, filter);
        QCOMPARE(table.filterBox->currentText(), filter);
        for (QChar c : search) // typed, one key per character, combining marks included
            QTest::sendKeyEvent(QTest::Click, table.searchField, Qt::Key_unknown, QString(c), {});

        QCOMPARE(probe().shownHosts(), expected.split(u' ', Qt::SkipEmptyParts));
        for (HostRowView* row : probe().rows())
            QCOMPARE(row->button()->text(), mounted.split(u' ').contains(row->label()->text())
                                                ? u"Unmount"_s
                                                : u"Mount"_s);
    }

    void clickSelectsNothing()
    {
        SSHFSTable& table = open(u"Host alpha\n\nHost beta\n\nHost gamma"_s);
        HostRowView* row = probe().rows().at(1);
        // Between the label and the button the click falls through to the table.
        QTest::mouseClick(row, Qt::LeftButton, {}, row->rect().center());
        QTest::mouseClick(
            table.sshTable->viewport(), Qt::LeftButton, Qt::ControlModifier,
            table.sshTable->visualRect(table.sshTable->model()->index(0, 0)).center());
        QTest::keySequence(table.sshTable, QKeySequence::SelectAll);
        QTest::keyClick(table.sshTable, Qt::Key_Down, Qt::ShiftModifier);
        QVERIFY(!table.sshTable->selectionModel()->hasSelection());
    }

    // "Mount" takes its record once: the reload inside the first request rebuilds the list,
    // where the pressed row's index now names another host, and disposes of the pressed button.
    // Before any command starts the row is busy and its mount point made anew, empty.
    void pressKeepsItsRecordAcrossTheReload()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        SSHFSTable& table = open(u"Host alpha\n\nHost beta\n\nHost gamma"_s);
        const QString path = volume(u"beta"_s);
        QVERIFY(QDir().mkpath(path) && QFile(path + u"/left over"_s).open(QIODevice::WriteOnly));
        chooseFilter(table.filterBox, u"Unmounted"_s);
        QCOMPARE(probe().shownHosts(), QStringList({u"alpha"_s, u"beta"_s, u"gamma"_s}));
        QVERIFY(mount(u"alpha"_s)); // the list learns of it only at the next reload

        QPointer<QPushButton> pressed = probe().button(u"beta"_s);
        QTest::mouseClick(pressed, Qt::LeftButton);
        QCOMPARE(probe().shownHosts(), QStringList({u"beta"_s, u"gamma"_s}));
        QCOMPARE(probe().title(u"beta"_s), u"... (disabled)"_s);
        QCOMPARE(probe().title(u"gamma"_s), u"Mount"_s);
        QCOMPARE(queue_->held(), 2); // a clean-up unmount, then the mount
        QVERIFY(QFileInfo(path).isDir() && QDir(path).isEmpty());
        QVERIFY(!QFileInfo::exists(volume(u"gamma"_s)));

        QVERIFY(pressed); // disposed of later, never inside its own click
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!pressed);

        queue_->release();
        QTRY_COMPARE(fakes_.runner->commandLines().size(), 3); // unmount, mount, failure unmount
        for (const QString& line : fakes_.runner->commandLines())
            QVERIFY2(line.contains(path), qPrintable(line));
    }

    // Thousands of hosts: only the rows in sight are built, and scrolling builds the others.
    void rowsAreBuiltWhenInSight()
    {
        QString config;
        for (int i = 0; i < 2000; ++i)
            config += u"Host host%1\n\n"_s.arg(i);
        SSHFSTable& table = open(config);
        const QStringList first = probe().shownHosts();
        QVERIFY2(first.size() > 3 && first.size() < 40, qPrintable(first.join(u' ')));
        QCOMPARE(first.first(), u"host0"_s);

        QScrollBar* scrollBar = table.sshTable->verticalScrollBar();
        scrollBar->setValue(scrollBar->maximum());
        const QStringList last = probe().shownHosts();
        QCOMPARE(last.last(), u"host1999"_s);
        QVERIFY(!last.contains(u"host0"_s));
        for (HostRowView* row : probe().rows()) { // every built row's button indexes the list
            const int tag = row->button()->property(HostRowView::tagProperty).toInt();
            QCOMPARE(table.servers[size_t(tag)]->host, row->label()->text());
        }
    }

    void keyboard()
    {
        SSHFSTable& table = open(u"Host alpha\n\nHost beta"_s);
        table.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&table));

        QTest::keySequence(&table, QKeySequence::Find);
        QTRY_VERIFY(table.searchField->hasFocus());
        QTest::keyClicks(table.searchField, u"be"_s);
        QCOMPARE(probe().shownHosts(), QStringList{u"beta"_s});
        QTest::keyClick(table.searchField, Qt::Key_Escape);
        QCOMPARE(probe().shownHosts(), QStringList({u"alpha"_s, u"beta"_s}));

        // Tab goes on from the search field to the rows' labels and buttons, top to bottom.
        QStringList reached;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->property("text").toString();
        }
        reached.removeAll(QString()); // the filter box and the table
        QCOMPARE(reached, QStringList({u"alpha"_s, u"Mount"_s, u"beta"_s, u"Mount"_s}));

        // Space presses the last of them; the focus stays in its row, on the label while it is
        // busy.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(probe().title(u"beta"_s), u"... (disabled)"_s);
        QCOMPARE(QApplication::focusWidget(), probe().rows().at(1)->label());

        QTest::keyClick(&table, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!table.isVisible());
    }
};

QTEST_MAIN(TestSSHFSTable)
#include "tst_sshfstable.moc"
