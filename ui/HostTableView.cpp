#include "ui/HostTableView.h"

#include "ui/HostTableAccessible.h"

#include <QAccessible>
#include <QApplication>
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
    for (const QPointer<QWidget>& view : built_) {
        if (view)
            rows << view;
    }
    return rows;
}

void HostTableView::reset()
{
    // A keyboard user who pressed a row's button keeps the focus in that row's new view.
    int focusRow = -1;
    qsizetype focusChild = -1;
    if (QWidget* focus = QApplication::focusWidget()) {
        for (size_t i = 0; i < built_.size() && focusRow < 0; ++i) {
            if (built_[i] && built_[i]->isAncestorOf(focus)) {
                focusRow = firstBuilt_ + int(i);
                focusChild = tabStops(built_[i]).indexOf(focus);
            }
        }
    }
    // The base class hides every row widget and hands it to deleteLater.
    QTableView::reset();
    built_.clear();
    firstBuilt_ = 0;
    buildRowsInSight();
    if (focusRow >= firstBuilt_ && size_t(focusRow - firstBuilt_) < built_.size()) {
        // A button that went busy cannot take the focus: the row's label before it does.
        const QList<QWidget*> stops = tabStops(built_[size_t(focusRow - firstBuilt_)]);
        for (qsizetype i = qMin(focusChild, stops.size() - 1); i >= 0; --i) {
            if (stops[i]->isEnabled()) {
                stops[i]->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
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
    const int lastBuilt = firstBuilt_ + int(built_.size()) - 1;
    if (first == firstBuilt_ && last == lastBuilt)
        return;
    std::vector<QPointer<QWidget>> built;
    for (int row = first; row <= last; ++row) {
        const bool kept = row >= firstBuilt_ && row <= lastBuilt;
        built.push_back(kept ? built_[size_t(row - firstBuilt_)] : nullptr);
    }
    for (int row = firstBuilt_; row <= lastBuilt; ++row) {
        if (row < first || row > last)
            setIndexWidget(model()->index(row, 0), nullptr);
    }
    for (int row = first; row <= last; ++row) {
        QPointer<QWidget>& view = built[size_t(row - first)];
        if (!view) {
            view = factory_(row);
            setIndexWidget(model()->index(row, 0), view);
        }
    }
    built_ = std::move(built);
    firstBuilt_ = first;
    chainTabOrder();
}

QList<QWidget*> HostTableView::tabStops(QWidget* row)
{
    QList<QWidget*> stops;
    for (QWidget* child : row->findChildren<QWidget*>()) {
        if (child->focusPolicy() & Qt::TabFocus)
            stops << child;
    }
    return stops;
}

void HostTableView::chainTabOrder()
{
    // Rows come into sight above as well as below the others: keep Tab going top to bottom.
    QWidget* previous = this;
    for (QWidget* row : rowViews()) {
        for (QWidget* stop : tabStops(row)) {
            setTabOrder(previous, stop);
            previous = stop;
        }
    }
}
