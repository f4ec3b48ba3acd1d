// One late-bound member call into a WebEngine page through the bridge: a
// property read of an element ("value") and a method call that hands back an
// object (getElementById), each timed one by one; the medians are the figures
// (target: at most 1 ms). Runs a real page on the offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWebEnginePage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/qt_ports.h"
#include "browser/document_driver.h"
#include "browser/webengine/page_bridge.h"
#include "util/event_pump.h"

namespace {

constexpr int kCalls = 2000;

template <class Call>
double MedianMs(Call call) {
  std::vector<double> ms;
  ms.reserve(kCalls);
  QElapsedTimer clock;
  for (int i = 0; i < kCalls; ++i) {
    clock.start();
    call();
    ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox", 0);
  QApplication app(argc, argv);
  qm::QtEventPump pump;
  auto* page = new QWebEnginePage();
  auto* bridge = new qm::PageBridge(page);
  QEventLoop loaded;
  QObject::connect(page, &QWebEnginePage::loadFinished, &loaded, &QEventLoop::quit);
  page->setHtml("<body><input id='user' value='沐晨旗舰店'><button class='sh'>授权</button></body>",
                QUrl("http://bench.test/"));
  loaded.exec();

  qm::DocumentDriver driver(pump);
  if (!driver.Attach(bridge->BrowserObject())) {
    std::fprintf(stderr, "bench_page_call: the page gave no document\n");
    return 1;
  }
  const qm::ComObject document = driver.GetDocument();
  const qm::ComObject input = driver.ElementById(document, "user");
  for (int i = 0; i < 200; ++i) input.ReadText("value");  // warm up

  const double read = MedianMs([&] { input.ReadText("value"); });
  const double lookup = MedianMs([&] { document.CallMethodObject("getElementById", {"user"}); });
  qm::ComObject found;
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 100; ++i) driver.FindElement("class=sh", &found, "BUTTON");
  const double find = static_cast<double>(clock.nsecsElapsed()) / 1e6 / 100;

  std::printf("member call, property read:  median %.3f ms over %d calls (target <= 1 ms)\n", read, kCalls);
  std::printf("member call, object result:  median %.3f ms over %d calls (target <= 1 ms)\n", lookup, kCalls);
  std::printf("FindElement(\"class=sh\", BUTTON): mean %.3f ms\n", find);
  delete page;
  return 0;
}
