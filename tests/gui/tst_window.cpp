#include "Fakes.h"
#include "PrivateMounts.h"
#include "WindowProbe.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The host window through its real widgets, on a catalogue of each test's own, and the
// application's life around it, on a private X server, where windows gain and lose the focus as
// on a desktop (coming to the front is the end-to-end test's). Mount points lie in a temporary
// directory, real mounts (tmpfs) in a private mount namespace, and the commands end at once, silent
// (so a mount fails).
class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    FakePlatform fakes_;
    std::unique_ptr<Tollvane> coordinator_;
    std::unique_ptr<SSHFSTable> table_;

    SSHFSTable& open(const QString& config)
    {
        QFile file(dir_->filePath(u"config"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
            qFatal("cannot write the test configuration");
        file.close();
        coordinator_ = std::make_unique<Tollvane>(file.fileName(), fakes_.platform());
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
    bool mount(const QString& host) // undone by the cleanup, with the tmpfs below it
    {
        return QDir().mkpath(volume(host)) && PrivateMounts::mountTmpfs(volume(host));
    }
    WindowProbe probe() const { return {*table_}; }

private Q_SLOTS:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        fakes_ = FakePlatform();
    }

    void cleanup()
    {
        table_.reset();
        PrivateMounts::unmount(dir_->path());
        QTRY_VERIFY(!QApplication::activeModalWidget()); // jobs of a press still ending
    }

    // Hosts: those mounted (tmpfs) and the rows expected, in order, space-separated.
    void listing_data()
    {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("mounted");
        QTest::addColumn<QString>("expected");

        const QString abc = u"Host alpha\n\nHost beta\n\nHost gamma"_s;
        const QString cafes = u"Host cafe\u0301\n\nHost cafe\n\nHost caf\u00e9s"_s;
        QTest::newRow("no row for \"*\" nor a nameless entry; duplicates stay")
            << u"Host *\n\n# only a comment\n\nHost twin\n\nHost a*b\n\nHost twin\n\n"_s << u"All"_s
            << QString() << QString() << u"twin a*b twin"_s;
        QTest::newRow("search: anywhere in the name, case-sensitive, in order")
            << u"Host db1\n\nHost mydb\n\nHost DB2"_s << u"All"_s << u"db"_s << QString()
            << u"db1 mydb"_s;
        QTest::newRow("search: composed and decomposed find each other, e does not find é")
            << cafes << u"All"_s << u"caf\u00e9"_s << QString() << u"cafe\u0301 caf\u00e9s"_s;
        QTest::newRow("search: never in the middle of a character")
            << u"Host \u0915\u0903\u0300"_s << u"All"_s << u"\u0915\u0903"_s << QString()
            << QString();
        QTest::newRow("Mounted") << abc << u"Mounted"_s << QString() << u"beta"_s << u"beta"_s;
        QTest::newRow("Unmounted")
            << abc << u"Unmounted"_s << QString() << u"beta"_s << u"alpha gamma"_s;
    }

    void listing()
    {
        QFETCH(QString, config);
        QFETCH(QString, filter);
        QFETCH(QString, search);
        QFETCH(QString, mounted);
        QFETCH(QString, expected);
        if (!mounted.isEmpty()) {
            TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
            QVERIFY(PrivateMounts::mountTmpfs(dir_->path()));
        }
        SSHFSTable& table = open(config);
        for (const QString& host : mounted.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(mount(host));

        // As a person chooses: the keyboard on the pop-up, one key per character in the field.
        QTest::keyClick(table.filterBox, Qt::Key_Home);
        while (table.filterBox->currentText() != filter)
            QTest::keyClick(table.filterBox, Qt::Key_Down);
        for (QChar c : search)
            QTest::sendKeyEvent(QTest::Click, table.searchField, Qt::Key_unknown, QString(c), {});

        QCOMPARE(probe().shownHosts(), expected.split(u' ', Qt::SkipEmptyParts));
        for (HostRowView* row : probe().rows())
            QCOMPARE(row->button()->text(), mounted.split(u' ').contains(row->label()->text())
                                                ? u"Unmount"_s
                                                : u"Mount"_s);
    }

    // "Mount" takes its record once: the reload inside the first request rebuilds the list, where
    // the pressed row's index now names another host, and disposes of the pressed button. Before
    // the press returns the row is busy and its mount point made anew, empty.
    void pressKeepsItsRecordAcrossTheReload()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(dir_->path()));
        SSHFSTable& table = open(u"Host alpha\n\nHost beta\n\nHost gamma"_s);
        const QString path = volume(u"beta"_s);
        QVERIFY(QDir().mkpath(path) && QFile(path + u"/left over"_s).open(QIODevice::WriteOnly));
        QTest::keyClick(table.filterBox, Qt::Key_End); // "Unmounted"
        QVERIFY(mount(u"alpha"_s));                    // the list learns of it at the next reload

        QPointer<QPushButton> pressed = probe().button(u"beta"_s);
        QTest::mouseClick(pressed, Qt::LeftButton);
        QCOMPARE(probe().shownHosts(), QStringList({u"beta"_s, u"gamma"_s}));
        QCOMPARE(probe().title(u"beta"_s), u"... (disabled)"_s);
        QVERIFY(QFileInfo(path).isDir() && QDir(path).isEmpty());
        QVERIFY(pressed); // disposed of later, never inside its own click
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!pressed);

        // A clean-up unmount, the mount, and the failure's unmount.
        QTRY_COMPARE(fakes_.runner->commandLines().size(), 3);
        for (const QString& line : fakes_.runner->commandLines())
            QVERIFY2(line.contains(path), qPrintable(line));
    }

    void keyboard()
    {
        SSHFSTable& table = open(u"Host alpha\n\nHost beta"_s);
        table.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&table));
        QCOMPARE(QApplication::focusWidget(), table.searchField); // where a person starts typing
        QTest::keyClick(table.searchField, Qt::Key_Tab);
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

        // Space presses the last of them; the focus stays in its row, on the label while busy.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(probe().title(u"beta"_s), u"... (disabled)"_s);
        QCOMPARE(QApplication::focusWidget(), probe().rows().at(1)->label());
        QTest::keyClick(&table, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!table.isVisible());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
