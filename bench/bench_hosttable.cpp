// What the host window costs per number of hosts: parsing the configuration, one rebuild of the
// list (no filter, "Mounted"), and one keystroke in the search field, with the rows it builds;
// and one mount-state query.
#include "catalogue/SSHFSConfig.h"
#include "mount/Tollvane.h"
#include "ui/HostTableView.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

QString configuration(int hosts)
{
    QString text;
    for (int i = 0; i < hosts; ++i) {
        text += u"Host host%1\n    HostName 10.0.%2.%3\n    User admin\n    Port 22\n\n"_s.arg(i)
                    .arg(i / 250)
                    .arg(i % 250);
    }
    return text;
}

// A shown window on `hosts` hosts. With `directories` every mount point exists as a plain
// directory, the dearest case for a state query; without, none does, as after unmounts.
class Window
{
public:
    explicit Window(int hosts, bool directories = true)
    {
        const QString file = dir_.filePath(u"config"_s);
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(configuration(hosts).toUtf8()) < 0)
            qFatal("cannot write the configuration");
        out.close();
        coordinator_ = std::make_unique<Tollvane>(file, Platform::system());
        for (const auto& server : coordinator_->config->servers) {
            server->path = dir_.filePath(u"Volumes/"_s + server->host);
            if (directories)
                QDir().mkpath(server->path);
        }
        table_ = std::make_unique<SSHFSTable>(*coordinator_);
        table_->resize(480, 420);
        table_->show();
        QCoreApplication::processEvents();
    }

    SSHFSTable& table() { return *table_; }
    qsizetype rowsBuilt() const
    {
        return static_cast<HostTableView*>(table_->sshTable.data())->rowViews().size();
    }
    // The old rows go as a user's event loop would dispose of them.
    static void disposeOfOldRows()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void key(Qt::Key key, const QString& text)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(table_->searchField, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(table_->searchField, &release);
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<Tollvane> coordinator_;
    std::unique_ptr<SSHFSTable> table_;
};

void parse(benchmark::State& state)
{
    const QString text = configuration(int(state.range(0)));
    for (auto _ : state) {
        SSHFSConfig config(text);
        config.parseServers();
        benchmark::DoNotOptimize(config.servers.data());
    }
    state.SetComplexityN(state.range(0));
}

void rebuild(benchmark::State& state, std::optional<bool> mounted)
{
    Window window(int(state.range(0)), state.range(1));
    for (auto _ : state) {
        window.table().rebuildServers(mounted);
        Window::disposeOfOldRows();
    }
    state.counters["rows built"] = double(window.rowsBuilt());
    state.SetComplexityN(state.range(0));
}

void rebuildAll(benchmark::State& state)
{
    rebuild(state, std::nullopt);
}

void rebuildMounted(benchmark::State& state)
{
    rebuild(state, true);
}

// One keystroke in the search field: "1" typed after "host", then taken back, in turn.
void keystroke(benchmark::State& state, const QString& filter)
{
    Window window(int(state.range(0)), state.range(1));
    window.table().filterBox->setCurrentText(filter);
    window.table().searchField->setText(u"host"_s);
    bool typed = false;
    for (auto _ : state) {
        if (typed)
            window.key(Qt::Key_Backspace, {});
        else
            window.key(Qt::Key_1, u"1"_s);
        typed = !typed;
        Window::disposeOfOldRows();
    }
    state.counters["rows built"] = double(window.rowsBuilt());
    state.SetComplexityN(state.range(0));
}

void keystrokeAll(benchmark::State& state)
{
    keystroke(state, u"All"_s);
}

// With a state filter every keystroke also asks every host's mount state.
void keystrokeUnmounted(benchmark::State& state)
{
    keystroke(state, u"Unmounted"_s);
}

// One mount-state query: a mount point that does not exist, a plain directory, a mount root.
void isMounted(benchmark::State& state)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(u"plain"_s);
    const QString paths[] = {dir.filePath(u"missing"_s), dir.filePath(u"plain"_s), u"/dev/pts"_s};
    const QString path = paths[state.range(0)];
    SSHFSServer server("Host "_L1 + path.section(u'/', -1));
    server.path = path;
    for (auto _ : state)
        benchmark::DoNotOptimize(server.isMounted());
}

} // namespace

// Hosts, and whether their mount points exist (second argument).
void hostCounts(benchmark::internal::Benchmark* b)
{
    b->ArgsProduct({{100, 1000, 10000}, {1}})->Complexity()->Unit(benchmark::kMicrosecond);
}

void hostCountsAndDirectories(benchmark::internal::Benchmark* b)
{
    b->ArgsProduct({{100, 1000, 10000}, {0, 1}})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(parse)->Apply(hostCounts);
BENCHMARK(rebuildAll)->Apply(hostCounts);
BENCHMARK(rebuildMounted)->Apply(hostCountsAndDirectories);
BENCHMARK(keystrokeAll)->Apply(hostCounts);
BENCHMARK(keystrokeUnmounted)->Apply(hostCountsAndDirectories);
BENCHMARK(isMounted)->DenseRange(0, 2)->Unit(benchmark::kNanosecond);
int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
