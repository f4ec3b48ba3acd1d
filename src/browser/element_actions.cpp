// The element operations of DocumentDriver: properties, values, lists,
// tables, scripts and marks.
#include <chrono>

#include "browser/document_driver.h"
#include "browser/dom_calls.h"
#include "util/delay.h"

namespace qm {
namespace {

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


}  // namespace

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
  const ComObject window = document_.ReadObject("ParentWindow");
  const ComObject body = document_.ReadObject("body");
  // Inside the body: markup put before it is parsed as a body of its own,
  // which would stand in for the page's body from then on.
  body.CallMethodVariant("insertAdjacentHTML",
                         {"afterBegin", "<textarea id=resultjs style='display:none;' ></textarea>"});
  window.CallMethodVariant("execScript", {"document.all.resultjs.innerText=" + expression});
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
    DelayWithEvents(*pump_, 300);
  }
  return false;
}

}  // namespace qm
