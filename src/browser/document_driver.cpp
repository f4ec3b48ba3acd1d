#include "browser/document_driver.h"

#include <chrono>

#include "util/delay.h"
#include "util/text_codec.h"

namespace qm {
namespace {

DocumentDriver* g_driver = nullptr;

// The window object of the last script evaluation, shared by every driver.
ComObject& ScriptWindow() {
  static ComObject window;
  return window;
}

// Frames nested deeper than this are not walked (a page that frames itself).
constexpr int kFrameDepthLimit = 16;
// A walk over a collection stops here, whatever length the page reports.
constexpr int kCollectionLimit = 100000;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int LengthOf(const ComObject& collection) {
  const double n = collection.ReadProperty("length").ToNumber();
  if (!(n > 0)) return 0;
  return n > kCollectionLimit ? kCollectionLimit : static_cast<int>(n);
}

ComObject ItemOf(const ComObject& collection, int i) { return collection.ReadObject("item", {double(i)}); }

bool IsElement(const ComObject& object) { return object.ReadVariant("nodeType").ToNumber() == 1; }

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  return AsciiLower(haystack).find(AsciiLower(needle)) != std::string::npos;
}

// Page text pasted back as markup must stay text.
std::string EscapedHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A colour goes into a style attribute: letters and digits only.
std::string ColourOr(const std::string& colour, const char* fallback) {
  if (colour.empty()) return fallback;
  for (unsigned char c : colour) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return fallback;
  }
  return colour;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void SetDocumentDriver(DocumentDriver* driver) { g_driver = driver; }
DocumentDriver* CurrentDocumentDriver() { return g_driver; }

// ---- document access ----

bool DocumentDriver::DocumentFromWindow(const ComObject& browser, ComObject* document) {
  *document = browser.ReadObject("Document");
  return !document->IsEmpty();
}

bool DocumentDriver::Attach(const ComObject& browser) {
  browser_ = browser;
  ResetCaches();  // the caches belong to the document that was there
  return DocumentFromWindow(browser, &document_);
}

std::string DocumentDriver::Domain() const { return document_.ReadText("domain"); }
std::string DocumentDriver::Location() const { return document_.ReadText("location"); }

std::string DocumentDriver::ResetCaches() {
  lookupKey_.clear();
  lookupDocuments_.clear();
  tagKey_.clear();
  tagKeySet_ = false;
  tagCollections_.clear();
  return {};
}

int DocumentDriver::FrameWindows(const ComObject& document, std::vector<ComObject>* frames) const {
  const ComObject list = document.ReadObject("frames");
  const int n = LengthOf(list);
  frames->clear();
  for (int i = 1; i <= n; ++i) {
    ComObject frame = ItemOf(list, i - 1);
    if (!frame.IsEmpty()) frames->push_back(std::move(frame));
  }
  return n;
}

void DocumentDriver::WalkFrames(const ComObject& document, std::vector<ComObject>* out, int depth) {
  if (depth > kFrameDepthLimit) return;
  std::vector<ComObject> frames;
  FrameWindows(document, &frames);
  for (const ComObject& frame : frames) {
    ComObject kept;
    // The "contentwindow" route first, then the frame itself.
    if (const ComObject window = frame.ReadObject("contentWindow"); !window.IsEmpty()) {
      kept = window.ReadObject("document");
    }
    if (kept.IsEmpty()) kept = frame;
    if (ComObject inner; FrameDocument(kept, &inner)) kept = inner;
    out->push_back(kept);
    WalkFrames(kept, out, depth + 1);
  }
}

int DocumentDriver::AllDocuments(std::vector<ComObject>* documents) {
  EnsureAttached();
  documents->clear();
  if (document_.IsEmpty()) return 0;
  documents->push_back(document_);
  WalkFrames(document_, documents, 1);
  return static_cast<int>(documents->size());
}

bool DocumentDriver::FrameDocument(const ComObject& frame, ComObject* document) const {
  *document = frame.ReadObject("contentDocument");
  if (!document->IsEmpty()) return true;
  // The stand-in for the service route: the frame window's own document, which
  // the browser gives only for a frame of the same origin.
  const ComObject contentWindow = frame.ReadObject("contentWindow");
  const ComObject& window = contentWindow.IsEmpty() ? frame : contentWindow;
  *document = window.ReadObject("document");
  return !document->IsEmpty();
}

ComObject DocumentDriver::ElementById(const ComObject& document, const std::string& id) const {
  return document.CallMethodObject("getElementById", {id});
}

int DocumentDriver::ElementsByName(const ComObject& document, const std::string& name, std::vector<ComObject>* out,
                                   bool fill) const {
  const ComObject list = document.CallMethodObject("getElementsByName", {name});
  const int n = LengthOf(list);
  if (fill) {
    out->clear();
    for (int i = 1; i <= n; ++i) out->push_back(ItemOf(list, i - 1));
  }
  return n;
}

int DocumentDriver::ElementsByTagName(const ComObject& document, const std::string& tag, std::vector<ComObject>* out,
                                      bool fill) const {
  const ComObject list = document.CallMethodObject("getElementsByTagName", {tag});
  const int n = LengthOf(list);
  if (fill) {
    out->clear();
    for (int i = 1; i <= n; ++i) out->push_back(ItemOf(list, i - 1));
  }
  return n;
}

void DocumentDriver::ElementsByTagDeep(const ComObject& document, const std::string& tag, std::vector<ComObject>* out,
                                       bool descend) const {
  out->clear();
  std::vector<ComObject> pending{document};
  int depth = 0;
  while (!pending.empty() && depth++ <= kFrameDepthLimit) {
    std::vector<ComObject> next;
    for (const ComObject& doc : pending) {
      const ComObject all = doc.ReadObject("all");
      const ComObject list = (tag.empty() || tag == "*") ? all : all.CallMethodObject("tags", {tag});
      const int n = LengthOf(list);
      for (int i = 0; i < n; ++i) out->push_back(ItemOf(list, i));
      if (!descend) continue;
      const ComObject frames = doc.ReadObject("frames");
      const int m = LengthOf(frames);
      for (int j = 0; j < m; ++j) {
        ComObject frameDoc = ItemOf(frames, j).ReadObject("document");
        if (!frameDoc.IsEmpty()) next.push_back(std::move(frameDoc));
      }
    }
    pending = std::move(next);
  }
}

const std::vector<ComObject>& DocumentDriver::TagCollections(const std::string& tag) {
  if (!tagKeySet_ || tag != tagKey_) {
    tagKey_ = tag;
    tagKeySet_ = true;
    std::vector<ComObject> documents;
    AllDocuments(&documents);
    tagCollections_.clear();
    for (const ComObject& doc : documents) {
      tagCollections_.push_back(doc.ReadObject("all").CallMethodObject("tags", {tag.empty() ? "*" : tag}));
    }
  }
  return tagCollections_;
}

ComObject DocumentDriver::ElementByNameAndTag(const std::string& name, const std::string& tag, int index) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool anyAnswered = false;
    for (const ComObject& collection : TagCollections(tag)) {
      const ComObject named = collection.ReadObject("namedItem", {name});
      if (LastErrorCode() != kCallOk) continue;
      anyAnswered = true;
      if (named.IsEmpty()) continue;
      // One element is the match itself (a select list's own "item" would
      // give one of its options instead).
      if (IsElement(named)) {
        if (index == 0) return named;
        continue;
      }
      ComObject item = ItemOf(named, index);
      if (LastErrorCode() != kCallOk) return named;
      if (!item.IsEmpty()) return item;
    }
    // Collections of a document that has gone answer nothing: the cache is
    // built again once for the page that is there now.
    if (anyAnswered || tagCollections_.empty()) break;
    tagKeySet_ = false;
    Attach(browser_);
  }
  return {};
}

bool DocumentDriver::WaitComplete(int limitMs) {
  if (document_.IsEmpty()) return false;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (MillisecondsSince(start) - limitMs > -1e-7) return false;
    const std::string state = document_.ReadText("readyState");
    if (state == "complete") return true;
    // A navigation replaced the document: wait for the new one.
    if (LastErrorCode() == kCallEmptyObject) EnsureAttached();
    DelayWithEvents(300);
  }
}

void DocumentDriver::EnsureAttached() {
  if (LastErrorCode() == kCallEmptyObject || document_.IsEmpty()) Attach(browser_);
}

// ---- element lookup ----

DocumentDriver::Selector DocumentDriver::ParseSelector(const std::string& text) {
  std::string_view s = Trimmed(text);
  if (s.size() >= 2 && s.front() == '[' && s.back() == ']') s = Trimmed(s.substr(1, s.size() - 2));
  if (s.empty() || s == "*") return {};
  const std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return {"id", std::string(s)};
  Selector out;
  out.attribute = AsciiLower(Trimmed(s.substr(0, eq)));
  std::string_view value = Trimmed(s.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  out.value = std::string(value);
  if (out.attribute == "classname") out.attribute = "class";
  if (out.attribute.empty()) out.attribute = "id";
  return out;
}

bool DocumentDriver::Matches(const ComObject& element, const Selector& selector, bool partial) const {
  if (selector.attribute.empty()) return true;
  const std::string actual = element.CallMethodText("getAttribute", {selector.attribute});
  if (partial) return ContainsNoCase(actual, selector.value);
  if (selector.attribute != "class") return actual == selector.value;
  // A class attribute is a list of names.
  std::size_t at = 0;
  while (at < actual.size()) {
    const std::size_t start = actual.find_first_not_of(" \t\r\n\f", at);
    if (start == std::string::npos) break;
    std::size_t end = actual.find_first_of(" \t\r\n\f", start);
    if (end == std::string::npos) end = actual.size();
    if (actual.compare(start, end - start, selector.value) == 0) return true;
    at = end;
  }
  return false;
}

const std::vector<ComObject>& DocumentDriver::LookupDocuments(const std::string& key, bool fresh) {
  if (fresh || key != lookupKey_ || lookupDocuments_.empty()) {
    AllDocuments(&lookupDocuments_);
    lookupKey_ = key;
  }
  return lookupDocuments_;
}

int DocumentDriver::Lookup(const std::string& selectorText, const std::string& tag, bool partial, bool fresh,
                           std::size_t limit, std::vector<ComObject>* out) {
  out->clear();
  if (limit == 0) return 0;
  if (fresh) ResetCaches();
  const Selector selector = ParseSelector(selectorText);
  const std::string tagName = tag.empty() ? "*" : tag;
  const bool byName = !partial && !selector.value.empty() && (selector.attribute == "id" || selector.attribute == "name");
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool lost = false;
    out->clear();
    if (byName) {
      // Ids and names are looked up by the collections themselves.
      for (const ComObject& collection : TagCollections(tagName)) {
        const ComObject named = collection.ReadObject("namedItem", {selector.value});
        if (LastErrorCode() == kCallEmptyObject) {
          lost = true;
          break;
        }
        if (named.IsEmpty()) continue;
        std::vector<ComObject> candidates;
        if (IsElement(named)) {
          candidates.push_back(named);
        } else {
          const int n = LengthOf(named);
          for (int i = 0; i < n; ++i) candidates.push_back(ItemOf(named, i));
        }
        for (const ComObject& candidate : candidates) {
          if (!candidate.IsEmpty() && Matches(candidate, selector, false)) out->push_back(candidate);
          if (out->size() >= limit) return static_cast<int>(out->size());
        }
      }
    } else {
      for (const ComObject& doc : LookupDocuments(selectorText + "\n" + tagName, false)) {
        const ComObject all = doc.ReadObject("all");
        if (LastErrorCode() == kCallEmptyObject) {
          lost = true;
          break;
        }
        const ComObject list = tagName == "*" ? all : all.CallMethodObject("tags", {tagName});
        const int n = LengthOf(list);
        for (int i = 0; i < n; ++i) {
          const ComObject candidate = ItemOf(list, i);
          if (!candidate.IsEmpty() && Matches(candidate, selector, partial)) out->push_back(candidate);
          if (out->size() >= limit) return static_cast<int>(out->size());
        }
      }
    }
    if (!lost) break;
    // The page was replaced since the caches were filled.
    ResetCaches();
    Attach(browser_);
  }
  return static_cast<int>(out->size());
}

bool DocumentDriver::FindElement(const std::string& selector, ComObject* element, const std::string& tag,
                                 bool partial, int index, bool fresh) {
  element->Reset();
  if (index < 0) return false;
  std::vector<ComObject> found;
  Lookup(selector, tag, partial, fresh, static_cast<std::size_t>(index) + 1, &found);
  if (found.size() <= static_cast<std::size_t>(index)) return false;
  *element = found[static_cast<std::size_t>(index)];
  return true;
}

bool DocumentDriver::FindElementEverywhere(const std::string& selector, ComObject* element, const std::string& tag,
                                           int index) {
  return FindElement(selector, element, tag, true, index, true);
}

int DocumentDriver::CollectElements(const std::string& selector, const std::string& tag, bool partial, bool fresh,
                                    std::vector<ComObject>* out) {
  return Lookup(selector, tag, partial, fresh, static_cast<std::size_t>(kCollectionLimit), out);
}

int DocumentDriver::CountElements(const std::string& selector, const std::string& tag, bool partial, bool fresh) {
  std::vector<ComObject> list;
  return CollectElements(selector, tag, partial, fresh, &list);
}

// ---- properties ----

std::string DocumentDriver::TextProperty(const ComObject& element, const std::string& name, const std::string& value,
                                         bool write) {
  if (write) {
    element.WriteProperty(name, value);
    return {};
  }
  return element.ReadVariant(name).ToText();
}

double DocumentDriver::NumberProperty(const ComObject& element, const std::string& name, double value, bool write) {
  if (write) {
    element.WriteProperty(name, value);
    return 0;
  }
  return element.ReadVariant(name).ToNumber();
}

void DocumentDriver::CallMethod(const ComObject& element, const std::string& name) {
  element.CallMethodVariant(name);
}

std::string DocumentDriver::Name(const ComObject& e, const std::string& v, bool w) { return TextProperty(e, "name", v, w); }
std::string DocumentDriver::Id(const ComObject& e, const std::string& v, bool w) { return TextProperty(e, "id", v, w); }
void DocumentDriver::Focus(const ComObject& element) { CallMethod(element, "focus"); }

bool DocumentDriver::Show(const ComObject& element, bool visible, bool write) {
  if (write) element.WriteProperty("display", visible ? "block" : "none");
  return element.ReadText("display") == "block";
}

bool DocumentDriver::Disabled(const ComObject& element, bool disabled, bool write) {
  if (write) element.WriteProperty("disabled", disabled ? "-1" : "0");
  element.ReadVariant("disabled");
  return true;
}

std::string DocumentDriver::Link(const ComObject& e, const std::string& v, bool w, int which) {
  return TextProperty(e, which == 1 ? "src" : "href", v, w);
}
double DocumentDriver::Width(const ComObject& e, double v, bool w) { return NumberProperty(e, "width", v, w); }
double DocumentDriver::Height(const ComObject& e, double v, bool w) { return NumberProperty(e, "height", v, w); }
std::string DocumentDriver::Title(const ComObject& e, const std::string& v, bool w) { return TextProperty(e, "title", v, w); }
std::string DocumentDriver::OuterHtml(const ComObject& e, const std::string& v, bool w) {
  return TextProperty(e, "outerHTML", v, w);
}
std::string DocumentDriver::InnerHtml(const ComObject& e, const std::string& v, bool w) {
  return TextProperty(e, "innerHTML", v, w);
}
std::string DocumentDriver::InnerText(const ComObject& e, const std::string& v, bool w) {
  return TextProperty(e, "innerText", v, w);
}
std::string DocumentDriver::Type(const ComObject& e, const std::string& v, bool w) { return TextProperty(e, "type", v, w); }

double DocumentDriver::PageLeft(const ComObject& element) {
  double sum = 0;
  ComObject e = element;
  for (int i = 0; i < 1000 && !e.IsEmpty(); ++i) {
    sum += e.ReadVariant("offsetLeft").ToNumber();
    e = e.ReadObject("offsetParent");
  }
  return sum;
}

double DocumentDriver::PageTop(const ComObject& element) {
  double sum = 0;
  ComObject e = element;
  for (int i = 0; i < 1000 && !e.IsEmpty(); ++i) {
    sum += e.ReadVariant("offsetTop").ToNumber();
    e = e.ReadObject("offsetParent");
  }
  return sum;
}

// ---- find, then read or write ----

bool DocumentDriver::GetValue(const std::string& s, const std::string& tag, int index, std::string* value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  *value = TextProperty(e, "value");
  return true;
}
bool DocumentDriver::SetValue(const std::string& s, const std::string& tag, int index, const std::string& value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  TextProperty(e, "value", value, true);
  return true;
}
bool DocumentDriver::GetInnerHtml(const std::string& s, const std::string& tag, int index, std::string* value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  *value = InnerHtml(e);
  return true;
}
bool DocumentDriver::SetInnerHtml(const std::string& s, const std::string& tag, int index, const std::string& value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  InnerHtml(e, value, true);
  return true;
}
bool DocumentDriver::GetInnerText(const std::string& s, const std::string& tag, int index, std::string* value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  *value = InnerText(e);
  return true;
}
bool DocumentDriver::SetInnerText(const std::string& s, const std::string& tag, int index, const std::string& value) {
  ComObject e;
  if (!FindElement(s, &e, tag, false, index)) return false;
  InnerText(e, value, true);
  return true;
}

bool DocumentDriver::SetChecked(const std::string& selector, bool checked, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "input", false, index)) return false;
  e.WriteProperty("checked", checked ? 1.0 : 0.0);
  return true;
}
bool DocumentDriver::GetChecked(const std::string& selector, int index) {
  ComObject e;
  return FindElement(selector, &e, "input", false, index) && e.ReadBool("checked");
}
bool DocumentDriver::SetCheckedAll(const std::string& selector, bool checked, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "input", false, index, true)) return false;
  e.WriteProperty("checked", checked ? 1.0 : 0.0);
  return true;
}
bool DocumentDriver::GetCheckedAll(const std::string& selector, int index) {
  ComObject e;
  return FindElement(selector, &e, "input", false, index, true) && e.ReadBool("checked");
}

void DocumentDriver::Click(const ComObject& element) { CallMethod(element, "click"); }

bool DocumentDriver::ClickElement(const std::string& selector, const std::string& tag, int index) {
  ComObject e;
  if (!FindElement(selector, &e, tag, false, index)) return false;
  Click(e);
  return true;
}

std::string DocumentDriver::BodyHtml(const ComObject& document, const std::string& value, bool write) {
  const ComObject body = (document.IsEmpty() ? document_ : document).ReadObject("body");
  return TextProperty(body, "innerHTML", value, write);
}
std::string DocumentDriver::BodyText(const ComObject& document, const std::string& value, bool write) {
  const ComObject body = (document.IsEmpty() ? document_ : document).ReadObject("body");
  return TextProperty(body, "innerText", value, write);
}

// ---- select lists ----

int DocumentDriver::SelectedIndex(const std::string& selector, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return -1;
  return static_cast<int>(NumberProperty(e, "selectedIndex"));
}
bool DocumentDriver::SetSelectedIndex(const std::string& selector, int selected, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return false;
  return e.WriteProperty("selectedIndex", double(selected));
}
int DocumentDriver::OptionCount(const std::string& selector, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return 0;
  return LengthOf(e.ReadObject("options"));
}
std::string DocumentDriver::OptionValue(const std::string& selector, int option, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return {};
  return ItemOf(e.ReadObject("options"), option).ReadText("value");
}
std::string DocumentDriver::OptionText(const std::string& selector, int option, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return {};
  return ItemOf(e.ReadObject("options"), option).ReadText("text");
}
bool DocumentDriver::ChooseOption(const std::string& selector, const std::string& wanted, bool byText, int index) {
  ComObject e;
  if (!FindElement(selector, &e, "select", false, index)) return false;
  const ComObject options = e.ReadObject("options");
  const int n = LengthOf(options);
  for (int i = 0; i < n; ++i) {
    if (ItemOf(options, i).ReadText(byText ? "text" : "value") == wanted) {
      return e.WriteProperty("selectedIndex", double(i));
    }
  }
  return false;
}

// ---- tables ----

int DocumentDriver::RowCount(const ComObject& table) { return LengthOf(table.ReadObject("Rows")); }

int DocumentDriver::CellCount(const ComObject& table, int row) {
  return LengthOf(ItemOf(table.ReadObject("Rows"), row).ReadObject("Cells"));
}

std::string DocumentDriver::CellText(const ComObject& table, int row, int column, bool html) {
  const ComObject cell = ItemOf(ItemOf(table.ReadObject("Rows"), row).ReadObject("Cells"), column);
  return cell.ReadText(html ? "innerHTML" : "outerText");
}

bool DocumentDriver::SetCellText(const ComObject& table, int row, int column, const std::string& value, bool html) {
  const ComObject cell = ItemOf(ItemOf(table.ReadObject("Rows"), row).ReadObject("Cells"), column);
  return !cell.IsEmpty() && cell.WriteProperty(html ? "innerHTML" : "innerText", value);
}

ComObject DocumentDriver::FindTable(const std::string& selector, int index) {
  ComObject table;
  FindElement(selector, &table, "table", false, index);
  return table;
}

// ---- script and page ----

ComObject DocumentDriver::ParentWindow() const { return document_.ReadObject("parentWindow"); }

void DocumentDriver::SilenceDialogs() {
  const ComObject window = ParentWindow();
  for (const char* code : {"function alert(){return;}", "function confirm(){return;}", "function prompt(){return;}",
                           "function showModalDialog(){return;}"}) {
    window.CallMethodVariant("execScript", {code, "JScript"});
  }
}

bool DocumentDriver::RunScript(const std::string& script, const std::string& kind) {
  const char* language = kind == "VBScript" ? "VBScript" : "JavaScript";
  ParentWindow().CallMethodVariant("execScript", {script, language});
  return LastErrorCode() == kCallOk;
}

std::string DocumentDriver::EvalScript(const std::string& expression) {
  ScriptWindow() = document_.ReadObject("ParentWindow");
  const ComObject body = document_.ReadObject("body");
  // Inside the body: markup put before it is parsed as a body of its own,
  // which would stand in for the page's body from then on.
  body.CallMethodVariant("insertAdjacentHTML",
                         {"afterBegin", "<textarea id=resultjs style='display:none;' ></textarea>"});
  ScriptWindow().CallMethodVariant("execScript", {"document.all.resultjs.innerText=" + expression});
  const ComObject area = document_.ReadObject("all").CallMethodObject("namedItem", {"resultjs"});
  const std::string result = area.ReadText("value");
  area.WriteProperty("outerHTML", "");
  return result;
}

bool DocumentDriver::FireEvent(const ComObject& element, const std::string& event) {
  const Variant handler = element.ReadVariant(event);
  return element.CallMethodVariant("FireEvent", {event, handler}).ToBool();
}

void DocumentDriver::HideScrollbars() {
  ParentWindow().CallMethodVariant("execScript",
                                   {"var jie = document.createStyleSheet();jie.addRule('html','overflow:hidden;');"});
}

void DocumentDriver::Scroll(double x, double y) {
  const ComObject root = document_.ReadObject("documentElement");
  root.WriteProperty("scrollLeft", x);
  root.WriteProperty("scrollTop", y);
}

double DocumentDriver::ScrollTop(double value, bool write) {
  return NumberProperty(document_.ReadObject("documentElement"), "scrollTop", value, write);
}
double DocumentDriver::ScrollLeft(double value, bool write) {
  return NumberProperty(document_.ReadObject("documentElement"), "scrollLeft", value, write);
}
std::string DocumentDriver::DocumentText() { return document_.ReadObject("documentElement").ReadText("innerText"); }
std::string DocumentDriver::DocumentHtml() { return document_.ReadObject("documentElement").ReadText("outerHTML"); }
std::string DocumentDriver::Charset() { return document_.ReadText("charset"); }
void DocumentDriver::Write(const std::string& text) { document_.CallMethodVariant("write", {text}); }

int DocumentDriver::Highlight(const std::string& text, const std::string& colour, const std::string& background,
                              bool bold) {
  if (text.empty()) return 0;
  const std::string open = std::string(bold ? "<B style='COLOR: #" : "<font style='COLOR: #") +
                           ColourOr(colour, "ff0000") + "; BACKGROUND-COLOR: #" + ColourOr(background, "D6F20D") +
                           "'>";
  const char* close = bold ? "</B>" : "</font>";
  const ComObject range = document_.ReadObject("body").CallMethodObject("createTextRange");
  int marks = 0;
  while (marks < kCollectionLimit && range.CallMethodVariant("FindText", {text}).ToBool()) {
    const std::string found = range.ReadText("Text");
    range.CallMethodVariant("pasteHTML", {open + EscapedHtml(found) + close});
    range.CallMethodVariant("MoveStart", {"character", 1});
    ++marks;
  }
  return marks;
}

bool DocumentDriver::WaitForText(const std::string& text, int limitMs) {
  const auto start = std::chrono::steady_clock::now();
  while (MillisecondsSince(start) - limitMs <= -1e-7) {
    std::vector<ComObject> documents;
    AllDocuments(&documents);
    for (const ComObject& doc : documents) {
      if (doc.ReadObject("documentElement").ReadText("outerHTML").find(text) != std::string::npos) return true;
    }
    DelayWithEvents(300);
  }
  return false;
}

}  // namespace qm
