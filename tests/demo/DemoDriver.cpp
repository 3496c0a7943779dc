// The headless demo: the real window, on the demo's hosts, under a private X server. It mounts the
// reachable host and unmounts it again through the window's own buttons, tries the refused one,
// and saves a screenshot of every state.
//
//   DemoDriver OUTPUT-DIRECTORY

#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QIcon>
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

bool waitForTitle(const WindowProbe& probe, const QString& host, const QString& title)
{
    if (QTest::qWaitFor([&] { return probe.title(host) == title; }, patience))
        return true;
    say(u"gave up waiting for %1 to show \"%2\" (it shows \"%3\")"_s.arg(host, title,
                                                                         probe.title(host)));
    return false;
}

bool press(const WindowProbe& probe, const QString& host)
{
    QPushButton* button = probe.button(host);
    if (!button)
        return false;
    say(u"pressing \"%1\" on %2"_s.arg(button->text(), host));
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

int drive(SSHFSTable& window, const QString& out)
{
    const WindowProbe probe(window);
    const QString reachable = u"reachable"_s;
    int shots = 0;
    auto file = [&](const QString& name) {
        return out + u"/%1-"_s.arg(++shots) + name + ".png"_L1;
    };

    if (!waitForTitle(probe, reachable, u"Mount"_s))
        return 1;
    shoot(window, file(u"start"_s));

    press(probe, reachable);
    if (probe.title(reachable) == "... (disabled)"_L1)
        shoot(window, file(u"mounting"_s));
    if (!waitForTitle(probe, reachable, u"Unmount"_s))
        return 1;
    shoot(window, file(u"mounted"_s));
    const QString volume = QDir::rootPath() + u"Users/"_s +
                           qEnvironmentVariable("TOLLVANE_E2E_LOGIN") + u"/Volumes/"_s + reachable;
    say(u"%1 holds: %2"_s.arg(
        volume, QDir(volume).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(u", "_s)));

    window.filterBox->setCurrentText(u"Mounted"_s);
    shoot(window, file(u"filter-mounted"_s));
    window.filterBox->setCurrentIndex(0);
    QTest::keyClicks(window.searchField, u"db"_s);
    shoot(window, file(u"search-db"_s));
    window.searchField->clear();

    press(probe, reachable);
    if (!waitForTitle(probe, reachable, u"Mount"_s))
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
    press(probe, u"refused"_s);
    if (!QTest::qWaitFor([&] { return alerted; }, patience) ||
        !waitForTitle(probe, u"refused"_s, u"Mount"_s))
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
