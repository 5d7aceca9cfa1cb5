#pragma once

class QWidget;

namespace meridoc {

// Keeps a top-level window wholly on its screen: when it is shown and its frame would reach past
// the screen's free area (a large text scale, a small screen), it is made smaller where its
// minimum size allows and moved inside, before the window system maps it and again once the
// window manager has placed it. A window that fits is never moved or sized.
void keepOnScreen(QWidget *window);

// Makes assistive technology present a plain top-level widget as a window (a frame), as it does
// main windows and dialogs.
void announceAsWindow(QWidget *window);

} // namespace meridoc
