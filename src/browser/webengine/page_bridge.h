#pragma once
// The bridge between the late-bound object layer (util/com_object.h) and a
// Qt WebEngine page: the page's objects become ComObjects. Each member call
// is evaluated in the page (in its isolated script world) and waited for in
// a nested event loop, so events keep running while it waits, as the old
// browser's cross-process calls let window messages run. The page keeps the
// objects handed out in a registry; a reference released here is released
// there with the next call.
//
// BrowserObject() is the late-bound object of the browser itself, what the
// document driver attaches to (in place of the control's window handle):
//   "Document"     the current document (read)
//   "LocationURL"  the address shown (read)
//   "Stop"         stops loading (method)
//
// A call that the page does not answer within the call limit fails with
// kCallOtherFailure; one on an object of a document that has gone, or of a
// page that has been destroyed, with kCallEmptyObject ("对象为空").
#include <QObject>
#include <memory>

#include "util/com_object.h"

class QWebEnginePage;

namespace qm {

class PageBridge : public QObject {
  Q_OBJECT
 public:
  // Puts the bridge's script into the page's scripts (every document the
  // page loads from now on gets it). The bridge is a child of the page.
  explicit PageBridge(QWebEnginePage* page);
  ~PageBridge() override;

  ComObject BrowserObject() const;
  // How long one member call may wait for the page (default 1000 ms).
  void SetCallLimit(int milliseconds);

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace qm
