#pragma once

class QAbstractItemView;
class QString;

namespace meridoc {

// A screen reader names the view's current item, not only the view, when the keyboard focus
// enters the view.
void announceCurrentItemOnFocus(QAbstractItemView *view);

// Gives the view's current item `description` and tells a screen reader that it changed, which
// it reads out while the item has the focus. The description goes again when the current item
// changes or the view loses the focus, so it never tells of an earlier state.
void describeCurrentItem(QAbstractItemView *view, const QString &description);

} // namespace meridoc
