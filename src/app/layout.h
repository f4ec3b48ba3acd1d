#pragma once
// The layouts of the program's five windows as data: one record per window
// with every control (name, kind, text, position, size, containing frame box,
// shown at start, tool tip, list columns) and the popup menus. The builder
// (builder.h) turns a record into Qt widgets; nothing here includes Qt.
#include <string>
#include <vector>

namespace qm {

enum class ControlKind {
  Label,       // QLabel
  FlatButton,  // QPushButton, flat
  Frame,       // QFrame with a border; children are placed relative to it
  ListView,    // QTreeView in report style (no tree decoration)
  Edit,        // QLineEdit, or QPlainTextEdit when multiLine is set
  Combo,       // QComboBox with an editable text
  Browser,     // QWebEngineView
  Picture,     // QLabel showing a picture (see PictureContent)
  Timer,       // QTimer, stopped; no view
  Database,    // no view, nothing is built
  MenuSkin,    // no view, nothing is built
};

// Which of the two font families a control's text uses.
enum class FontFace {
  YaHei,  // 微软雅黑: the small buttons, list headings, status line, most headings
  Song,   // SimSun: the other texts
};

// What a picture box shows at start.
enum class PictureContent { None, ProgramIcon, Busy };

struct ColumnLayout {
  std::string title;
  int width = 0;  // 0: present but not visible until the user widens it
};

struct ControlLayout {
  std::string name;
  ControlKind kind = ControlKind::Label;
  std::string text;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::string frame;   // name of the containing frame box; empty: the window itself
  bool shown = true;   // visible at start
  std::string toolTip;
  std::vector<ColumnLayout> columns;  // list views only
  bool multiSelect = false;           // list views: several rows may be selected
  bool multiLine = false;             // edit boxes: a multi-line box
  bool handCursor = false;
  bool dragsWindow = false;           // pressing the left button here drags the window
  FontFace font = FontFace::Song;
  int fontPoints = 9;
  bool bold = false;
  PictureContent picture = PictureContent::None;
};

// A popup menu: item texts in order, "-" for a separator.
struct MenuLayout {
  std::string name;
  std::vector<std::string> items;
};

struct WindowLayout {
  std::string name;   // MainWindow, AccountDialog, AuthWindow, RatingPageWindow, SettingsWindow
  std::string title;  // the window title (also shown by the task bar)
  int left = 50;      // initial position in screen pixels
  int top = 50;
  int width = 0;      // client area
  int height = 0;
  std::vector<ControlLayout> controls;  // in creation order: later ones lie on top
  std::vector<MenuLayout> menus;

  // nullptr when there is no such control or menu.
  const ControlLayout* Find(const std::string& controlName) const;
  const MenuLayout* FindMenu(const std::string& menuName) const;
};

// One control of a layout; buttons and list headings use 微软雅黑 unless the
// caller sets another face.
ControlLayout MakeControl(std::string name, ControlKind kind, std::string text, int left, int top, int width,
                          int height, std::string frame = {});

const WindowLayout& MainWindowLayout();
const WindowLayout& AuthWindowLayout();
const WindowLayout& RatingPageWindowLayout();
const WindowLayout& AccountDialogLayout();
const WindowLayout& SettingsWindowLayout();

// The five records, in the order above.
std::vector<const WindowLayout*> AllWindowLayouts();

}  // namespace qm
