#pragma once
// The edges of a frameless window: the window manager draws none, so the
// window brings its own. Thin grips along each edge and at each corner
// resize it (the window manager does it where it can, the grip itself
// otherwise), and a double-click on the title strip maximises it or gives
// back its size.
class QWidget;

namespace qm {

// `titleHeight`: how far from the top a double-click maximises.
void MakeResizable(QWidget* window, int titleHeight);

}  // namespace qm
