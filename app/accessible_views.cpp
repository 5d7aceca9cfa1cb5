#include "accessible_views.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QFocusEvent>
#include <QPersistentModelIndex>

namespace meridoc {

namespace {

// The accessible interface of the view's item at `index`, or null.
QAccessibleInterface *itemInterface(QAbstractItemView *view, const QModelIndex &index) {
    QAccessibleInterface *viewInterface = QAccessible::queryAccessibleInterface(view);
    QAccessibleTableInterface *table = viewInterface ? viewInterface->tableInterface() : nullptr;
    if (!table || !index.isValid())
        return nullptr;
    return table->cellAt(index.row(), index.column());
}

// Focus events for the current item on entering the view; the item's description dropped when
// it stops being current or the view loses the focus.
class ItemAnnouncer : public QObject {
public:
    explicit ItemAnnouncer(QAbstractItemView *view) : QObject(view), view_(view) {}

    void describe(const QString &description) {
        forget();
        const QModelIndex current = view_->currentIndex();
        if (!current.isValid())
            return;
        view_->model()->setData(current, description, Qt::AccessibleDescriptionRole);
        described_ = current;
        if (QAccessibleInterface *item = itemInterface(view_, current)) {
            QAccessibleEvent changed(item, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&changed);
        }
    }

    void forget() {
        if (described_.isValid())
            view_->model()->setData(described_, QVariant(), Qt::AccessibleDescriptionRole);
        described_ = QPersistentModelIndex();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::FocusOut)
            forget();
        if (event->type() != QEvent::FocusIn ||
            static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason)
            return false;
        // After the view's own focus event, once the view has made an item current.
        QMetaObject::invokeMethod(
            this, [this] { announceCurrent(); }, Qt::QueuedConnection);
        return false;
    }

private:
    void announceCurrent() {
        if (!view_->hasFocus() || !QAccessible::isActive())
            return;
        QAccessibleInterface *viewInterface = QAccessible::queryAccessibleInterface(view_);
        QAccessibleInterface *item = itemInterface(view_, view_->currentIndex());
        const int child = item ? viewInterface->indexOfChild(item) : -1;
        if (child < 0)
            return;
        QAccessibleEvent focus(view_, QAccessible::Focus);
        focus.setChild(child);
        QAccessible::updateAccessibility(&focus);
    }

    QAbstractItemView *view_;
    QPersistentModelIndex described_;
};

ItemAnnouncer *announcerOf(QAbstractItemView *view) {
    ItemAnnouncer *announcer = nullptr;
    for (QObject *child : view->children()) {
        if ((announcer = dynamic_cast<ItemAnnouncer *>(child)))
            break;
    }
    if (!announcer) {
        announcer = new ItemAnnouncer(view);
        view->installEventFilter(announcer);
        QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, announcer,
                         [announcer] { announcer->forget(); });
    }
    return announcer;
}

} // namespace

void announceCurrentItemOnFocus(QAbstractItemView *view) {
    announcerOf(view);
}

void describeCurrentItem(QAbstractItemView *view, const QString &description) {
    announcerOf(view)->describe(description);
}

} // namespace meridoc
