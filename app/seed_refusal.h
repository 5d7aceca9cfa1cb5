#pragma once

class QWidget;

namespace meridoc {

// The seed card file takes no new or changed entries: when it is the current card file, says so
// in a box over `parent` and returns true.
bool refuseSeedCardFile(QWidget *parent);

} // namespace meridoc
