#include "ui/HostTableView.h"

#include "ui/HostTableAccessible.h"

#include <QAccessible>
#include <QHeaderView>
#include <QScrollBar>

HostTableView::HostTableView(QWidget* parent) : QTableView(parent)
{
    HostTableAccessible::installFactory();
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the row widgets instead of walking its cells.
    setTabKeyNavigation(false);
    setShowGrid(false);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // One height for every row (so that finding the rows in sight costs nothing): a push button
    // and some air around it.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 18);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { buildRowsInSight(); });
}

void HostTableView::setRowFactory(RowFactory factory)
{
    factory_ = std::move(factory);
    reset();
}

QList<QWidget*> HostTableView::rowViews() const
{
    QList<QWidget*> rows;
    for (int row = firstBuilt_; row <= lastBuilt_; ++row) {
        if (QWidget* view = indexWidget(model()->index(row, 0)))
            rows << view;
    }
    return rows;
}

void HostTableView::reset()
{
    // The base class hides every row widget and hands it to deleteLater.
    QTableView::reset();
    firstBuilt_ = 0;
    lastBuilt_ = -1;
    buildRowsInSight();
    QAccessibleEvent event(this, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&event);
}

void HostTableView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    buildRowsInSight();
}

void HostTableView::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    buildRowsInSight();
}

void HostTableView::buildRowsInSight()
{
    const int count = model() ? model()->rowCount() : 0;
    int first = 0;
    int last = -1;
    if (isVisible() && factory_ && count > 0) {
        first = qMax(0, rowAt(0));
        last = rowAt(viewport()->height() - 1);
        if (last < 0)
            last = count - 1;
    }
    if (first == firstBuilt_ && last == lastBuilt_)
        return;
    for (int row = firstBuilt_; row <= lastBuilt_; ++row) {
        if (row < first || row > last)
            setIndexWidget(model()->index(row, 0), nullptr);
    }
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0);
        if (!indexWidget(index))
            setIndexWidget(index, factory_(row));
    }
    firstBuilt_ = first;
    lastBuilt_ = last;
    chainTabOrder();
}

void HostTableView::chainTabOrder()
{
    // Rows come into sight above as well as below the others: keep Tab going top to bottom.
    QWidget* previous = this;
    for (QWidget* row : rowViews()) {
        for (QWidget* child : row->findChildren<QWidget*>()) {
            if (child->focusPolicy() & Qt::TabFocus) {
                setTabOrder(previous, child);
                previous = child;
            }
        }
    }
}
