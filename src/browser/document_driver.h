#pragma once
// DocumentDriver: drives the page of an embedded browser from code (fills
// fields, ticks boxes, clicks buttons, runs script) through late-bound calls
// on the page's objects (util/com_object.h). The page objects come from the
// browser bridge (browser/webengine), which evaluates every member call in
// the page; this class knows nothing of the browser behind them.
//
// Where the Windows original went from the control's window handle to the
// document ("Internet Explorer_Server" child window, WM_HTML_GETOBJECT and
// ObjectFromLresult), here the bridge hands over one late-bound browser
// object: it stands for the control's window and its document window at
// once, and its "Document" member stands for the window message. Frames of
// another domain were reached through a service of the frame's window; the
// stand-in route reads the frame window's "document" in the page, which the
// browser refuses for another origin, so such a frame stays in the document
// list as the frame object itself.
//
// Every operation is for the UI thread, the thread of the event pump the
// driver is given, whose events run while it waits for a page; none throws. Failures give false,
// empty text, 0 or an empty object, and the late-bound call that failed sets
// the thread's last error (LastErrorText).
#include <string>
#include <vector>

#include "util/com_object.h"

namespace qm {

class EventPump;

class DocumentDriver {
 public:
  explicit DocumentDriver(EventPump& pump) : pump_(&pump) {}

  // ---- document access ----

  // Takes the browser object's document; keeps the browser object so that a
  // lost document can be taken again. True when a document was obtained.
  bool Attach(const ComObject& browser);
  // The document of a browser object (its "Document" member); true on success.
  static bool DocumentFromWindow(const ComObject& browser, ComObject* document);
  ComObject GetDocument() const { return document_; }
  const ComObject& Browser() const { return browser_; }
  std::string Domain() const;
  std::string Location() const;
  // Empties both lookup caches; returns the empty text.
  std::string ResetCaches();
  // The frames of `document`: their number, and their windows in *frames.
  int FrameWindows(const ComObject& document, std::vector<ComObject>* frames) const;
  // The page's document, then the documents of its frames at every depth (a
  // frame whose document cannot be reached as the frame object itself).
  int AllDocuments(std::vector<ComObject>* documents);
  // The document of a frame element or frame window; true when obtained.
  bool FrameDocument(const ComObject& frame, ComObject* document) const;
  ComObject ElementById(const ComObject& document, const std::string& id) const;
  int ElementsByName(const ComObject& document, const std::string& name, std::vector<ComObject>* out,
                     bool fill) const;
  int ElementsByTagName(const ComObject& document, const std::string& tag, std::vector<ComObject>* out,
                        bool fill) const;
  // Every element of `tag` ("*" or empty: every element) of the document and,
  // descending, of its frames' documents, appended to *out (emptied first).
  void ElementsByTagDeep(const ComObject& document, const std::string& tag, std::vector<ComObject>* out,
                         bool descend) const;
  // The index-th element named (id or name) `name` among the elements of
  // `tag`, in the page or any frame; empty when there is none.
  ComObject ElementByNameAndTag(const std::string& name, const std::string& tag, int index = 0);
  // True when the document's readyState became "complete" within the limit;
  // polls every 300 ms with events running. False at once when not attached.
  bool WaitComplete(int limitMs = 5000);
  // Attaches again when the document is lost (the last call found the object
  // gone, or there is none).
  void EnsureAttached();

  // ---- element lookup ----

  // Finds an element by `selector`: "attribute=value" (also written
  // "[attribute=value]"), where the attribute is id, name, class (or
  // classname), src, href or any other attribute of the element; a selector
  // without "=" is an id; "*" or the empty text matches every element. `tag`
  // (any case; empty for any) limits the match to elements of that tag. The
  // page and the documents of all its frames are searched in order, and the
  // index-th match (from 0) is written to *element.
  //   partial: false, the attribute's value must equal the given value (for
  //            class: one of the element's class names must); true, the value
  //            needs only contain it, in any letter case.
  //   fresh:   false, the documents and tag collections cached by the last
  //            lookup are used again while they live; true, they are
  //            collected anew first (after a page changed its frames).
  bool FindElement(const std::string& selector, ComObject* element, const std::string& tag = {},
                   bool partial = false, int index = 0, bool fresh = false);
  // FindElement with both options set.
  bool FindElementEverywhere(const std::string& selector, ComObject* element, const std::string& tag = {},
                             int index = 0);
  // Every match of a lookup, in order.
  int CollectElements(const std::string& selector, const std::string& tag, bool partial, bool fresh,
                      std::vector<ComObject>* out);
  int CountElements(const std::string& selector, const std::string& tag = {}, bool partial = false,
                    bool fresh = false);

  // ---- properties of an element ----

  // Writing: sets the property and returns the empty text. Reading: the
  // property as text (empty when the element lacks it).
  std::string TextProperty(const ComObject& element, const std::string& name, const std::string& value = {},
                           bool write = false);
  double NumberProperty(const ComObject& element, const std::string& name, double value = 0, bool write = false);
  // Calls the method without arguments.
  void CallMethod(const ComObject& element, const std::string& name);
  std::string Name(const ComObject& element, const std::string& value = {}, bool write = false);
  std::string Id(const ComObject& element, const std::string& value = {}, bool write = false);
  void Focus(const ComObject& element);
  // Writing sets "display" to "block" or "none"; true when it reads "block".
  bool Show(const ComObject& element, bool visible = true, bool write = false);
  // Writing sets "disabled" to "-1" (true) or "0" (false); returns true.
  bool Disabled(const ComObject& element, bool disabled = false, bool write = false);
  // "href" (which = 0) or "src" (which = 1).
  std::string Link(const ComObject& element, const std::string& value = {}, bool write = false, int which = 0);
  double Width(const ComObject& element, double value = 0, bool write = false);
  double Height(const ComObject& element, double value = 0, bool write = false);
  std::string Title(const ComObject& element, const std::string& value = {}, bool write = false);
  std::string OuterHtml(const ComObject& element, const std::string& value = {}, bool write = false);
  std::string InnerHtml(const ComObject& element, const std::string& value = {}, bool write = false);
  std::string InnerText(const ComObject& element, const std::string& value = {}, bool write = false);
  std::string Type(const ComObject& element, const std::string& value = {}, bool write = false);
  // The element's position in the page: offsets summed up its offsetParent chain.
  double PageLeft(const ComObject& element);
  double PageTop(const ComObject& element);

  // ---- find, then read or write ----

  bool GetValue(const std::string& selector, const std::string& tag, int index, std::string* value);
  bool SetValue(const std::string& selector, const std::string& tag, int index, const std::string& value);
  bool GetInnerHtml(const std::string& selector, const std::string& tag, int index, std::string* value);
  bool SetInnerHtml(const std::string& selector, const std::string& tag, int index, const std::string& value);
  bool GetInnerText(const std::string& selector, const std::string& tag, int index, std::string* value);
  bool SetInnerText(const std::string& selector, const std::string& tag, int index, const std::string& value);
  // An "input" element's "checked", written as 1 or 0; true when found.
  bool SetChecked(const std::string& selector, bool checked, int index = 0);
  bool GetChecked(const std::string& selector, int index = 0);
  // The same with a fresh lookup of the page's documents.
  bool SetCheckedAll(const std::string& selector, bool checked, int index = 0);
  bool GetCheckedAll(const std::string& selector, int index = 0);
  void Click(const ComObject& element);
  bool ClickElement(const std::string& selector, const std::string& tag = {}, int index = 0);
  // Shortcuts with the tag filled in.
  bool GetInputValue(const std::string& selector, std::string* value) { return GetValue(selector, "input", 0, value); }
  bool SetInputValue(const std::string& selector, const std::string& value) {
    return SetValue(selector, "input", 0, value);
  }
  bool GetTextareaValue(const std::string& selector, std::string* value) {
    return GetValue(selector, "textarea", 0, value);
  }
  bool SetTextareaValue(const std::string& selector, const std::string& value) {
    return SetValue(selector, "textarea", 0, value);
  }
  bool SetButtonText(const std::string& selector, const std::string& text) {
    return SetInnerText(selector, "button", 0, text);
  }
  bool ClickButton(const std::string& selector) { return ClickElement(selector, "button"); }
  bool ClickImage(const std::string& selector) { return ClickElement(selector, "img"); }

  // The body's innerHTML / innerText of `document` (the attached one when
  // empty); writing when `write`.
  std::string BodyHtml(const ComObject& document = {}, const std::string& value = {}, bool write = false);
  std::string BodyText(const ComObject& document = {}, const std::string& value = {}, bool write = false);

  // ---- select lists ----

  // -1 when no "select" element matches.
  int SelectedIndex(const std::string& selector, int index = 0);
  bool SetSelectedIndex(const std::string& selector, int selected, int index = 0);
  int OptionCount(const std::string& selector, int index = 0);
  std::string OptionValue(const std::string& selector, int option, int index = 0);
  std::string OptionText(const std::string& selector, int option, int index = 0);
  // Chooses the first option whose value (byText: text) equals `wanted`; true when one did.
  bool ChooseOption(const std::string& selector, const std::string& wanted, bool byText = false, int index = 0);

  // ---- tables ----

  int RowCount(const ComObject& table);
  int CellCount(const ComObject& table, int row);
  // A cell's "outerText" (html: "innerHTML"); writing sets "innerText" ("innerHTML").
  std::string CellText(const ComObject& table, int row, int column, bool html = false);
  bool SetCellText(const ComObject& table, int row, int column, const std::string& value, bool html = false);
  // The index-th "table" element matching the selector.
  ComObject FindTable(const std::string& selector, int index = 0);

  // ---- script and page ----

  // The page's alert, confirm, prompt and showModalDialog return at once.
  void SilenceDialogs();
  // Runs the script in the page: "VBScript" when `kind` is exactly that,
  // otherwise "JavaScript". True when it ran.
  bool RunScript(const std::string& script, const std::string& kind = {});
  // The value of a script expression as text, read back through a hidden
  // text area that is gone again when this returns.
  std::string EvalScript(const std::string& expression);
  // Fires the event ("onclick", ...) at the element; the call's truth value.
  bool FireEvent(const ComObject& element, const std::string& event);
  void HideScrollbars();
  void Scroll(double x, double y);
  double ScrollTop(double value = 0, bool write = false);
  double ScrollLeft(double value = 0, bool write = false);
  std::string DocumentText();
  std::string DocumentHtml();
  std::string Charset();
  void Write(const std::string& text);
  // Marks every occurrence of `text` in the body: "font" markup (bold: "B")
  // with the colour (default "ff0000") on the background (default "D6F20D").
  // Returns the number of marks.
  int Highlight(const std::string& text, const std::string& colour = {}, const std::string& background = {},
                bool bold = false);
  // True when `text` appears in the markup of the page or a frame within the limit.
  bool WaitForText(const std::string& text, int limitMs = 5000);

 private:
  struct Selector {
    std::string attribute;  // lower case; empty: every element
    std::string value;
  };
  static Selector ParseSelector(const std::string& text);
  bool Matches(const ComObject& element, const Selector& selector, bool partial) const;
  // The documents for a lookup keyed `key`, from the cache while it lives.
  const std::vector<ComObject>& LookupDocuments(const std::string& key, bool fresh);
  // The collections of `tag` of every document, from the tag cache while it lives.
  const std::vector<ComObject>& TagCollections(const std::string& tag);
  ComObject ParentWindow() const;
  // The lookup behind FindElement and CollectElements: at most `limit` matches.
  int Lookup(const std::string& selector, const std::string& tag, bool partial, bool fresh, std::size_t limit,
             std::vector<ComObject>* out);
  void WalkFrames(const ComObject& document, std::vector<ComObject>* out, int depth);

  EventPump* pump_;
  ComObject document_;
  ComObject browser_;  // stands for the window handle the original kept
  std::string lookupKey_;
  std::vector<ComObject> lookupDocuments_;
  std::string tagKey_;
  bool tagKeySet_ = false;
  std::vector<ComObject> tagCollections_;
};

}  // namespace qm
