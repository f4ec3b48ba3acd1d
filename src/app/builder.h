#pragma once
// Makes the Qt widgets of a window from its layout record (layout.h).
//
// Every control becomes a child of the window (or of its frame box) whose
// objectName is the control's name, so that code and tests find 超级列表框1 by
// name. Timers become stopped QTimers named like their control; popup menus
// become QMenus named like the menu, with one QAction per item (objectName =
// the item's text). Windows are frameless; their title strip and background
// drag them.
//
// Kinds and the classes built for them:
//   Label -> QLabel, FlatButton -> QPushButton (flat), Frame -> QFrame,
//   ListView -> QTreeView (report style), Edit -> QLineEdit (QPlainTextEdit
//   when multiLine), Combo -> QComboBox (editable), Browser -> QWebEngineView,
//   Picture -> QLabel (BusyPicture for the busy picture), Timer -> QTimer.
#include <QFont>
#include <QLineEdit>
#include <QMenu>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string>

#include "app/layout.h"

namespace qm {

// Builds the window: objectName, title, icon, frameless flag, fixed client
// size, position, every control, the timers and the popup menus. Call once
// on a fresh widget.
void BuildWindow(QWidget* window, const WindowLayout& layout);

// The control of `window` named `name` (widgets and timers), searching through
// its frame boxes but not into other windows owned by it; nullptr when there is none.
QObject* FindControlObject(QWidget* window, const QString& name);

template <class T>
T* Control(QWidget* window, const QString& name) {
  return qobject_cast<T*>(FindControlObject(window, name));
}
inline QWidget* FindControl(QWidget* window, const QString& name) { return Control<QWidget>(window, name); }
inline QTimer* FindTimer(QWidget* window, const QString& name) { return Control<QTimer>(window, name); }
QMenu* FindMenu(QWidget* window, const QString& name);
// The item of a menu with this text; nullptr when there is none.
QAction* FindMenuItem(QMenu* menu, const QString& text);

// UTF-8 to QString and back.
inline QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }
// A tooltip that shows `text` as it is: tooltips take markup, so it is escaped
// and wrapped in a paragraph that keeps its line breaks.
inline QString PlainToolTip(const QString& text) {
  return "<p style='white-space:pre-wrap'>" + text.toHtmlEscaped() + "</p>";
}
inline std::string S(const QString& text) { return text.toUtf8().toStdString(); }

// The interface face (a sans-serif CJK font) at the layout's size; both faces of the layout map to it.
QFont LayoutFont(FontFace face, int points = 9, bool bold = false);

// Shows the secret in `box` masked, with an eye at its end (an action named
// "显示AppSecret") that shows it while checked.
void MaskSecret(QLineEdit* box);

// Pressing the left button on `handle` and moving the mouse moves `target`:
// a window (through the window system's own move where it offers one) or a
// child widget inside its parent.
void MakeDragHandle(QWidget* handle, QWidget* target);

}  // namespace qm
