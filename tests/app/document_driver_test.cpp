// The page driver against real pages in WebEngine (offscreen): lookups in
// the page and its frames, values, lists and tables, scripts, marks, dialogs,
// a document replaced under the driver, and the wait for a page that never
// completes.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QtTest>

#include "app/qt_ports.h"
#include "browser/document_driver.h"
#include "browser/webengine/page_bridge.h"
#include "support/sandbox_process.h"
#include "util/event_pump.h"

using namespace qm;

namespace {

// Counts the page's alert boxes instead of showing them.
class RecordingPage : public QWebEnginePage {
 public:
  int alerts = 0;

 protected:
  void javaScriptAlert(const QUrl&, const QString&) override { ++alerts; }
};

const char* kFramedPage = R"(<html><head><title>框架页</title></head><body>
<div id="top" class="box main">top text</div>
<input id="user" name="login" value="v1"><input name="multi" value="m0"><input name="multi" value="m1">
<select id="sel" name="sel"><option value="a">甲</option><option value="b">乙</option></select>
<button class="sh" onclick="document.title='clicked'">授权</button><button class="cancel">取消</button>
<table id="t"><tr><td>r0c0</td><td>r0c1</td></tr><tr><td>r1c0</td></tr></table>
<iframe id="f1" srcdoc="<body><a id='inner' href='#x'>in frame</a><iframe srcdoc='<b id=deep>deep</b>'></iframe></body>"></iframe>
<iframe id="f2" src="data:text/html,<p id='far'>other origin</p>"></iframe>
</body></html>)";

}  // namespace

class DocumentDriverTest : public QObject {
  Q_OBJECT
 private:
  QtEventPump* pump_ = nullptr;
  RecordingPage* page_ = nullptr;
  PageBridge* bridge_ = nullptr;

  bool Load(const QString& html) {
    QSignalSpy loaded(page_, &QWebEnginePage::loadFinished);
    page_->setHtml(html, QUrl("http://qm.test/"));
    return loaded.wait(15000) && loaded.takeFirst().at(0).toBool();
  }

 private slots:
  void init() {
    pump_ = new QtEventPump();
    page_ = new RecordingPage();
    bridge_ = new PageBridge(page_);
  }
  void cleanup() {
    delete page_;  // and its bridge
    delete pump_;
  }

  void lookupsReachThePageAndFramesOfItsOrigin() {
    QVERIFY(Load(kFramedPage));
    DocumentDriver d(*pump_);
    QVERIFY(d.Attach(bridge_->BrowserObject()));
    QCOMPARE(d.Location(), std::string("http://qm.test/"));
    QCOMPARE(d.Domain(), std::string("qm.test"));

    // The page, its frame, the frame inside that, and the frame of another
    // origin as the frame object itself (its document is refused).
    std::vector<ComObject> docs;
    QCOMPARE(d.AllDocuments(&docs), 4);
    QVERIFY(!d.ElementById(docs[1], "inner").IsEmpty());
    QVERIFY(!d.ElementById(docs[2], "deep").IsEmpty());
    QVERIFY(docs[3].ReadText("readyState").empty());
    QVERIFY(LastErrorCode() != kCallOk);

    ComObject e;
    QVERIFY(d.FindElement("id=inner", &e, "A"));
    QCOMPARE(d.InnerText(e), std::string("in frame"));
    QVERIFY(d.FindElement("deep", &e));
    QVERIFY(!d.FindElement("id=far", &e));
    QVERIFY(e.IsEmpty());
    QVERIFY(!d.FindElement("id=inner", &e, "input"));  // the tag must match too
    QVERIFY(d.FindElement("[class=sh]", &e, "BUTTON"));
    QCOMPARE(d.InnerText(e), std::string("授权"));
    QVERIFY(d.FindElement("class=box", &e, "div"));  // one of its class names
    QVERIFY(!d.FindElement("class=bo", &e));
    QVERIFY(d.FindElement("class=BO", &e, "", true));  // partial, any case
    QVERIFY(d.FindElement("name=multi", &e, "input", false, 1));
    QCOMPARE(d.TextProperty(e, "value"), std::string("m1"));
    QVERIFY(!d.FindElement("name=multi", &e, "input", false, 2));
    QCOMPARE(d.CountElements("name=multi", "input"), 2);
    QCOMPARE(d.CountElements("*", "iframe", false, true), 3);
    QVERIFY(d.FindElementEverywhere("href=#X", &e, "a"));

    QCOMPARE(d.TextProperty(d.ElementByNameAndTag("multi", "input", 1), "value"), std::string("m1"));
    QCOMPARE(d.TextProperty(d.ElementByNameAndTag("login", "INPUT"), "value"), std::string("v1"));
    // One select list is the match itself, not one of its options.
    QCOMPARE(d.ElementByNameAndTag("sel", "select").ReadText("nodeName"), std::string("SELECT"));
    QVERIFY(d.ElementByNameAndTag("nothing", "input").IsEmpty());

    std::vector<ComObject> all, shallow, links;
    d.ElementsByTagDeep(d.GetDocument(), "*", &all, true);
    d.ElementsByTagDeep(d.GetDocument(), "", &shallow, false);
    QVERIFY(all.size() > shallow.size());
    d.ElementsByTagDeep(d.GetDocument(), "a", &links, true);
    QCOMPARE(links.size(), size_t(1));
    std::vector<ComObject> named;
    QCOMPARE(d.ElementsByName(d.GetDocument(), "multi", &named, true), 2);
    QCOMPARE(d.ElementsByTagName(d.GetDocument(), "INPUT", &named, false), 3);

    // Values, check boxes, lists and tables.
    std::string value;
    QVERIFY(d.SetInputValue("id=user", "新的 <值>"));
    QVERIFY(d.GetInputValue("login", &value) == false);  // a bare word is an id
    QVERIFY(d.GetValue("name=login", "input", 0, &value));
    QCOMPARE(value, std::string("新的 <值>"));
    QVERIFY(!d.SetChecked("id=missing", true));
    QCOMPARE(d.OptionCount("id=sel"), 2);
    QVERIFY(d.ChooseOption("id=sel", "乙", true));
    QCOMPARE(d.SelectedIndex("id=sel"), 1);
    QCOMPARE(d.OptionValue("id=sel", 1), std::string("b"));
    QCOMPARE(d.SelectedIndex("id=nothing"), -1);
    const ComObject table = d.FindTable("id=t");
    QCOMPARE(d.RowCount(table), 2);
    QCOMPARE(d.CellCount(table, 0), 2);
    QCOMPARE(d.CellText(table, 1, 0), std::string("r1c0"));
    QVERIFY(d.SetCellText(table, 1, 0, "<b>x</b>", true));
    QCOMPARE(d.CellText(table, 1, 0, true), std::string("<b>x</b>"));

    QVERIFY(d.FindElement("id=top", &e));
    QVERIFY(!d.Show(e, false, true));
    QVERIFY(d.Show(e, true, true));
    QVERIFY(d.FindElement("class=sh", &e, "button"));
    d.Disabled(e, true, true);
    QVERIFY(e.ReadBool("disabled"));
    d.Disabled(e, false, true);  // "0" is false, as the old browser read it
    QVERIFY(!e.ReadBool("disabled"));
    QVERIFY(d.FireEvent(e, "onclick"));
    QCOMPARE(page_->title(), QString("clicked"));
    QVERIFY(d.PageTop(e) > 0);
    // A member the element lacks: empty text and the thread's last error.
    QCOMPARE(d.TextProperty(e, "noSuchMember"), std::string());
    QCOMPARE(LastErrorText(), std::string("未找到指定成员"));
  }

  void scriptsMarksAndDialogs() {
    QVERIFY(Load("<html><head><title>t1</title></head><body><p>foo bar Foo</p><p>a &lt;i&gt; b</p></body></html>"));
    DocumentDriver d(*pump_);
    QVERIFY(d.Attach(bridge_->BrowserObject()));

    QCOMPARE(d.EvalScript("1+2"), std::string("3"));
    QCOMPARE(d.BodyText(), std::string("foo bar Foo\n\na <i> b"));
    QCOMPARE(d.EvalScript("document.title"), std::string("t1"));
    QCOMPARE(d.EvalScript("(function(){throw 1;})()"), std::string());
    QCOMPARE(d.CountElements("id=resultjs", "", false, true), 0);
    QVERIFY(d.DocumentHtml().find("resultjs") == std::string::npos);

    QCOMPARE(d.Highlight("foo"), 2);
    QVERIFY(d.BodyHtml().find("<font style=\"COLOR: #ff0000; BACKGROUND-COLOR: #D6F20D\">foo</font> bar "
                              "<font style=\"COLOR: #ff0000; BACKGROUND-COLOR: #D6F20D\">Foo</font>") !=
            std::string::npos);
    QCOMPARE(d.Highlight("bar", "00ff00", "", true), 1);
    QVERIFY(d.BodyHtml().find("<b style=\"COLOR: #00ff00; BACKGROUND-COLOR: #D6F20D\">bar</b>") != std::string::npos);
    // Page text is marked as text, never as markup.
    QCOMPARE(d.Highlight("<i>", "red'><script>"), 1);
    QCOMPARE(d.CountElements("*", "i", false, true), 0);
    QCOMPARE(d.CountElements("*", "script", false, true), 0);

    QVERIFY(d.RunScript("alert('one')"));
    QCOMPARE(page_->alerts, 1);
    d.SilenceDialogs();
    QVERIFY(d.RunScript("alert('two'); confirm('?'); document.title = 'after'", "JScript"));
    QCOMPARE(page_->alerts, 1);
    QCOMPARE(page_->title(), QString("after"));
    QVERIFY(!d.RunScript("document.title = 'vb'", "VBScript"));
    QCOMPARE(LastErrorText(), std::string("其他原因调用失败"));
    QCOMPARE(page_->title(), QString("after"));
    QVERIFY(!d.RunScript("throw new Error('x')"));
    QVERIFY(!d.RunScript("this is no script"));

    d.HideScrollbars();
    QCOMPARE(d.EvalScript("getComputedStyle(document.documentElement).overflow"), std::string("hidden"));
    QVERIFY(d.WaitForText("<title>after</title>", 1000));
  }

  void aReplacedDocumentIsTakenAgain() {
    QVERIFY(Load("<body><input id='a' value='one'></body>"));
    DocumentDriver d(*pump_);
    QVERIFY(d.Attach(bridge_->BrowserObject()));
    ComObject old;
    QVERIFY(d.FindElement("id=a", &old, "input"));
    QVERIFY(Load("<body><input id='a' value='two'></body>"));
    // The element of the page that has gone is gone with it.
    QCOMPARE(old.ReadText("value"), std::string());
    QCOMPARE(LastErrorText(), std::string("对象为空"));
    std::string value;
    QVERIFY(d.GetValue("id=a", "input", 0, &value));
    QCOMPARE(value, std::string("two"));
    QVERIFY(d.WaitComplete());
  }

  void waitCompleteGivesUpOnAPageThatNeverCompletes() {
    DocumentDriver detached(*pump_);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!detached.WaitComplete());
    QVERIFY(clock.elapsed() < 100);

    test::Sandbox sandbox;
    QVERIFY(sandbox.Ok());
    QVERIFY(!sandbox.AdminPost("faults", R"({"path":"/avatar/1.svg","stall_ms":9000})").empty());
    page_->setHtml(QString("<body>loading<img src='%1/avatar/1.svg'></body>").arg(QString::fromStdString(sandbox.BaseUrl())),
                   QUrl("http://qm.test/"));
    DocumentDriver d(*pump_);
    QTRY_VERIFY_WITH_TIMEOUT(d.Attach(bridge_->BrowserObject()) && !d.BodyText().empty(), 10000);
    clock.restart();
    QVERIFY(!d.WaitComplete());
    QVERIFY2(clock.elapsed() >= 4900 && clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
    clock.restart();
    QVERIFY(!d.WaitComplete(700));
    QVERIFY(clock.elapsed() >= 690 && clock.elapsed() < 2500);
  }
};

QTEST_MAIN(DocumentDriverTest)
#include "document_driver_test.moc"
