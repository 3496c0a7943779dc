// The headless demo: the real window, on the demo's hosts, under a private X server. It mounts the
// reachable host and unmounts it again through the window's own buttons, tries the refused one,
// and saves a screenshot of every state.
//
//   DemoDriver OUTPUT-DIRECTORY

#include "app/AppDelegate.h"
#include "ui/HostRowView.h"
#include "ui/HostTableView.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000;

// The button of a host's row, as a person finds it: by the name beside it.
QPushButton* buttonOf(SSHFSTable& window, const QString& host)
{
    for (QWidget* view : static_cast<HostTableView*>(window.sshTable.data())->rowViews()) {
        auto* row = static_cast<HostRowView*>(view);
        if (row->label()->text() == host)
            return row->button();
    }
    return nullptr;
}

QString title(SSHFSTable& window, const QString& host)
{
    const QPushButton* button = buttonOf(window, host);
    return button ? button->text() : u"no row"_s;
}

// Picks an item of the pop-up with the keyboard, as a person does.
void choose(QComboBox* box, const QString& item)
{
    QTest::keyClick(box, Qt::Key_Home);
    while (box->currentText() != item && box->currentIndex() < box->count() - 1)
        QTest::keyClick(box, Qt::Key_Down);
}

void say(const QString& text)
{
    std::printf("demo: %s\n", qPrintable(text));
    std::fflush(stdout);
}

// The screen around `widget` (and any alert over it), as a person would see it.
bool shoot(QWidget& widget, const QString& file)
{
    QRect area = widget.frameGeometry();
    if (QWidget* modal = QApplication::activeModalWidget())
        area = area.united(modal->frameGeometry());
    QTest::qWait(150); // let the last repaint reach the screen
    const QPixmap shot =
        widget.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool saved = shot.save(file);
    say((saved ? u"saved "_s : u"could not save "_s) + file);
    return saved;
}

bool waitForTitle(SSHFSTable& window, const QString& host, const QString& wanted)
{
    if (QTest::qWaitFor([&] { return title(window, host) == wanted; }, patience))
        return true;
    say(u"gave up waiting for %1 to show \"%2\" (it shows \"%3\")"_s.arg(host, wanted,
                                                                         title(window, host)));
    return false;
}

bool press(SSHFSTable& window, const QString& host)
{
    QPushButton* button = buttonOf(window, host);
    if (!button)
        return false;
    say(u"pressing \"%1\" on %2"_s.arg(button->text(), host));
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

int drive(SSHFSTable& window, const QString& out)
{
    const QString reachable = u"reachable"_s;
    int shots = 0;
    auto file = [&](const QString& name) {
        return out + u"/%1-"_s.arg(++shots) + name + ".png"_L1;
    };

    if (!waitForTitle(window, reachable, u"Mount"_s))
        return 1;
    shoot(window, file(u"start"_s));

    press(window, reachable);
    if (title(window, reachable) == "..."_L1)
        shoot(window, file(u"mounting"_s));
    if (!waitForTitle(window, reachable, u"Unmount"_s))
        return 1;
    shoot(window, file(u"mounted"_s));
    const QString volume = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES") + u'/' + reachable;
    say(u"%1 holds: %2"_s.arg(
        volume, QDir(volume).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(u", "_s)));

    choose(window.filterBox, u"Mounted"_s);
    shoot(window, file(u"filter-mounted"_s));
    choose(window.filterBox, u"All"_s);
    QTest::keyClicks(window.searchField, u"db"_s);
    shoot(window, file(u"search-db"_s));
    window.searchField->clear();

    press(window, reachable);
    if (!waitForTitle(window, reachable, u"Mount"_s))
        return 1;
    shoot(window, file(u"unmounted"_s));

    // The alert runs its own loop: a timer photographs and closes it from inside.
    bool alerted = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, &window, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        closer.stop();
        alerted = true;
        say(u"alert: \"%1\" / \"%2\""_s.arg(box->text(), box->informativeText()));
        shoot(window, file(u"refused-alert"_s));
        box->accept();
    });
    closer.start(50);
    press(window, u"refused"_s);
    if (!QTest::qWaitFor([&] { return alerted; }, patience) ||
        !waitForTitle(window, u"refused"_s, u"Mount"_s))
        return 1;
    shoot(window, file(u"after-refusal"_s));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Tollvane"_s);
    QGuiApplication::setWindowIcon(QIcon(u":/tollvane.png"_s));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"."_s;
    QDir().mkpath(out);

    AppDelegate delegate(application);
    SSHFSTable window;
    window.setWindowTitle(u"Tollvane"_s);
    window.move(0, 0);
    window.resize(560, 420);
    window.show();
    window.activateWindow();

    int status = 1;
    QTimer::singleShot(0, &window, [&] {
        status = drive(window, out);
        application.quit();
    });
    application.exec();
    say(status == 0 ? u"done"_s : u"stopped early"_s);
    return status;
}
