#pragma once
// The small interfaces through which the core reaches the user interface.
// app/ implements them with Qt widgets; the headless runner and the tests
// implement them in memory. Every call is made on the UI thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// A timer of a window: an interval in milliseconds; 0 means stopped.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;
};

// What shows one list of the order book (orders/order_book.h). The book owns
// the rows; it tells its view of every change, before and after, the way a Qt
// item model announces its changes, and asks it for the user's choice. Rows
// are 0-based positions in the book's list at the moment of the call; they are
// a view detail and never kept across a wait.
class OrderList {
 public:
  virtual ~OrderList() = default;
  virtual void BeginReset() {}
  // Every row was replaced; the list now holds `rows` rows.
  virtual void EndReset(int /*rows*/) {}
  // Rows [first, last] are about to appear / have appeared.
  virtual void BeginInsert(int /*first*/, int /*last*/) {}
  virtual void EndInsert() {}
  // Rows [first, last] are about to go / have gone.
  virtual void BeginRemove(int /*first*/, int /*last*/) {}
  virtual void EndRemove() {}
  // The texts of rows [first, last] in `column` changed.
  virtual void RowsChanged(int /*first*/, int /*last*/, int /*column*/) {}
  // The row with the focus when it is selected, else the first selected row;
  // -1 when there is none.
  virtual int CurrentRow() const = 0;
  // The selected rows, ascending.
  virtual std::vector<int> SelectedRows() const = 0;
  virtual void Repaint() = 0;
  // Colours as 0xRRGGBB.
  virtual void SetColours(std::uint32_t text, std::uint32_t background) = 0;
};

// The user's boxes. Texts are UTF-8.
class Prompts {
 public:
  virtual ~Prompts() = default;
  // An information box with an OK button.
  virtual void Information(const std::string& title, const std::string& text) = 0;
  // An OK/Cancel question; true for OK.
  virtual bool Question(const std::string& title, const std::string& text) = 0;
  // The same with the question icon, for the questions the seller is asked
  // before something that cannot be undone.
  virtual bool Ask(const std::string& title, const std::string& text) { return Question(title, text); }
  // The question of an action that goes on only with the seller's OK: the
  // action returns at once and `then` hears the answer when it is given
  // (never, when the program ends first). `cannotUndo` asks as Ask does,
  // otherwise as Question. A box that waits in place answers at once.
  virtual void Confirm(const std::string& title, const std::string& text, bool cannotUndo,
                       std::function<void(bool)> then) {
    then(cannotUndo ? Ask(title, text) : Question(title, text));
  }
  // A failure the seller should know of, with the warning icon.
  virtual void Warn(const std::string& title, const std::string& text) { Information(title, text); }
  // A one-line input box; nullopt when cancelled.
  virtual std::optional<std::string> Input(const std::string& title, const std::string& label,
                                           const std::string& initial) = 0;
};

// The system clipboard. Text is UTF-8 here; callers that need the local code
// page convert at their boundary. Pictures travel as PNG bytes.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual bool SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
  virtual bool SetPicture(const std::vector<std::uint8_t>& png) = 0;
  virtual std::vector<std::uint8_t> Picture() const = 0;
};

// What the notice box of the main window shows after the seller answered an
// order: one coloured verdict line and the text below it.
struct Notice {
  std::string line;
  std::string text;
  std::string about;  // whose words the text holds, for the box's tooltip; may be empty
  std::uint32_t textColour = 0;  // 0xRRGGBB
  std::uint32_t background = 0;
};

// What the seller's own actions in the windows touch besides the order lists
// (those are views of the run's order book; the run itself has its own
// ports and observer, rating/seller_run.h). The desktop fills it with adapters of its
// widgets, the headless runner and the tests with in-memory ones. A missing
// member means "nothing to show"; callers check before use.
struct MainView {
  Prompts* prompts = nullptr;
  std::function<void(const std::string&)> setStatus;  // the status line 标签3
  // The rating-page window, modal; true when the user closed it as modified
  // ("修改完关闭"). The flag is consumed: the next opening starts unmodified.
  std::function<bool()> openRatingPage;
  // The notice box, shown at the height of the mouse pointer.
  std::function<void(const Notice&)> showNotice;
  // A notification the seller should see even with the window hidden (the
  // tray's balloon, or the status line without a tray); may be empty.
  std::function<void(const std::string& title, const std::string& text)> notify;
  // Where the copy items put an order's number or buyer; may be null.
  Clipboard* clipboard = nullptr;
};

}  // namespace qm

