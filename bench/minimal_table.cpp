// The yardstick for start-up time and memory: about the least a Qt Widgets window with a table can
// be. Three rows, as many as the benchmark's configuration has hosts.
#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QTableWidget table(3, 2);
    table.setWindowTitle(u"Minimal table"_s);
    for (int row = 0; row < 3; ++row) {
        table.setItem(row, 0, new QTableWidgetItem(u"host%1"_s.arg(row)));
        table.setItem(row, 1, new QTableWidgetItem(u"Mount"_s));
    }
    table.horizontalHeader()->hide();
    table.resize(480, 420);
    table.show();
    return application.exec();
}
