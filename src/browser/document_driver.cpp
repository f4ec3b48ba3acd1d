#include "browser/document_driver.h"

#include <chrono>

#include "browser/dom_calls.h"
#include "util/delay.h"
#include "util/text_codec.h"

namespace qm {
namespace {

// Frames nested deeper than this are not walked (a page that frames itself).
constexpr int kFrameDepthLimit = 16;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}


bool IsElement(const ComObject& object) { return object.ReadVariant("nodeType").ToNumber() == 1; }

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  return AsciiLower(haystack).find(AsciiLower(needle)) != std::string::npos;
}

}  // namespace

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
    DelayWithEvents(*pump_, 300);
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

}  // namespace qm
