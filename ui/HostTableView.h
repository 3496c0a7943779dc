#pragma once

#include <QPointer>
#include <QTableView>

#include <functional>
#include <vector>

// A table whose rows are widgets, built only for the rows in sight: a list of thousands of hosts
// costs no more to show than the few rows the window has room for. The rows are built again
// after every reset of the model and whenever rows come into sight; rows that leave the sight,
// or that a reset drops, are disposed of later, never at once, because one of them may be sending
// the signal that caused it.
class HostTableView : public QTableView
{
    Q_OBJECT

public:
    // Builds the widget of one row; the view takes it.
    using RowFactory = std::function<QWidget*(int row)>;

    explicit HostTableView(QWidget* parent = nullptr);

    void setRowFactory(RowFactory factory);
    // The row widgets now built, top to bottom.
    QList<QWidget*> rowViews() const;

    void reset() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildRowsInSight();
    void chainTabOrder();
    // The row's children that Tab stops at, in order.
    static QList<QWidget*> tabStops(QWidget* row);

    RowFactory factory_;
    // The row widgets built, for the rows firstBuilt_ on; they outlive a reset of the model
    // until the view disposes of them, so that the focus among them can be found.
    std::vector<QPointer<QWidget>> built_;
    int firstBuilt_ = 0;
};
