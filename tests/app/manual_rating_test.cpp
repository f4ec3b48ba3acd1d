// The seller's own ratings from the main window against the marketplace: the
// answers on the buyer-rated list with the notice box or the rating-page
// window, rating early and now on the unrated list, the selection command,
// the menus and the copy items.
#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <nlohmann/json.hpp>

#include "app/builder.h"
#include "app/main_window.h"
#include "app/rating_log_window.h"
#include "app/run_settings_window.h"
#include "app/settings_window.h"
#include "rating/keep_list.h"
#include "app_test_support.h"
#include "rating/seller_run.h"
#include "rating/comments.h"
#include "settings/config.h"
#include "settings/profile.h"
#include "support/sandbox_process.h"
#include "util/text_codec.h"

using namespace qm;
using namespace qm::test;
using nlohmann::json;

namespace {

// Closes every rating-page window that opens with the button `closeWith`
// ("超级按钮3" 修改完关闭, "超级按钮4" 未修改关闭) and counts them.
struct RatingPageCloser {
  QTimer poll;
  int opened = 0;
  const char* closeWith = "超级按钮4";
  RatingPageCloser() {
    QObject::connect(&poll, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "RatingPageWindow" && w->isVisible()) {
          ++opened;
          Control<QPushButton>(w, QString::fromUtf8(closeWith))->click();
        }
      }
    });
    poll.start(20);
  }
};

// The tids of the rating forms in the sandbox's request log, in the order sent.
std::vector<std::string> PostedRatings(const Sandbox& sandbox) {
  std::vector<std::string> tids;
  for (const json& entry : json::parse(sandbox.AdminGet("log"))) {
    const std::string body = entry.value("body", "");
    if (entry.value("path", "") != "/apitools/getResult.do") continue;
    const auto at = body.find("&tid=");
    tids.push_back(body.substr(at + 5, body.find('&', at + 5) - at - 5));
  }
  return tids;
}

std::map<std::string, json> RatingsGiven(const Sandbox& sandbox) {
  std::map<std::string, json> out;
  for (const json& r : json::parse(sandbox.AdminGet("ratings"))) out[r.value("tid", "")] = r;
  return out;
}

// Makes the order the current (and only selected) row of a list.
void Select(QtOrderList& list, const std::string& tid, OrderRows& rows) {
  QTreeView* view = list.Widget();
  const QModelIndex index = view->model()->index(rows.Find(tid), 0);
  view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void DoubleClick(QtOrderList& list, const std::string& tid, OrderRows& rows) {
  Select(list, tid, rows);
  QTreeView* view = list.Widget();
  emit view->doubleClicked(view->model()->index(rows.Find(tid), 0));
}

// The menu that a right-click in the list opened; it is closed again.
QString MenuOpenedBy(QtOrderList& list, QPoint at = QPoint(5, 5)) {
  emit list.Widget()->customContextMenuRequested(at);
  QString name;
  for (QMenu* menu : list.Widget()->window()->findChildren<QMenu*>()) {
    if (menu->isVisible()) {
      name = menu->objectName();
      menu->hide();
    }
  }
  return name;
}

}  // namespace

class ManualRatingTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Sandbox> sandbox_;
  std::unique_ptr<ProgramDir> dir_;
  std::unique_ptr<EndRecorder> ends_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> tids_;

  // Trades of the seller: the first two neither side has rated, the others
  // were rated by their buyers (neutral, bad with markup, good, good, then
  // six good ones for the selection).
  void StartAgainstTheMarketplace() {
    sandbox_ = std::make_unique<Sandbox>();
    QVERIFY(sandbox_->Ok());
    json trades = json::array();
    trades.push_back({{"ended_hours_ago", 30}});
    trades.push_back({{"ended_hours_ago", 40}});
    trades.push_back({{"ended_hours_ago", 50}, {"buyer_rate", "neutral"}, {"buyer_comment", "发货太慢"}});
    trades.push_back({{"ended_hours_ago", 51},
                      {"buyer_rate", "bad"},
                      {"buyer_comment", "<img src=\"http://127.0.0.1:9/x.png\"><b>差</b>"}});
    for (int i = 0; i < 8; ++i) trades.push_back({{"ended_hours_ago", 60 + i}, {"buyer_rate", "good"}});
    const json added = json::parse(sandbox_->AdminPost("trades", json{{"trades", trades}}.dump()));
    tids_ = added.at("tids").get<std::vector<std::string>>();
    QCOMPARE(tids_.size(), size_t(12));

    dir_ = std::make_unique<ProgramDir>();
    QVERIFY(sandbox_->WriteConfig(dir_->File("Config.ini")));
    dir_->session.endpoints = Endpoints::AtBase(sandbox_->BaseUrl());
    ends_ = std::make_unique<EndRecorder>();
    window_ = std::make_unique<MainWindow>(dir_->session, ends_->End());
    window_->show();
    ChooseAccountWhenAsked(QString::fromStdString(sandbox_->Seller().nick));
    QVERIFY(RunStartupToEnd(*window_));
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Run() || !window_->Run()->Loader().Running(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(window_->Book().BuyerRated().RowCount(), 10, 15000);
    QCOMPARE(window_->Book().Unrated().RowCount(), 2);
    QVERIFY(sandbox_->AdminPost("log/clear", "{}").size() > 0);
  }

 private slots:
  void init() { StartAgainstTheMarketplace(); }

  void cleanup() {
    window_.reset();
    ends_.reset();
    dir_.reset();
    sandbox_.reset();
  }

  // The default answer: what the buyer gave is read first and shown in the
  // question with the reply; the reply is in kind, and what was posted is
  // what the status line and the rating log say.
  void answersAreGivenInKindAfterTheBuyersRatingIsShown() {
    MainWindow& w = *window_;
    OrderRows& rows = w.Book().BuyerRated();
    const std::string neutral = tids_[2], bad = tids_[3], good = tids_[4];
    QVERIFY(AddOrderComment(dir_->Data(), neutral, "谢谢，下次快点"));
    {
      BoxAnswerer cancel(QMessageBox::Cancel);
      DoubleClick(w.BuyerRatedList(), good, rows);
      QTRY_COMPARE_WITH_TIMEOUT(cancel.boxes.size(), size_t(1), 10000);
      const QString& text = cancel.boxes[0].text;
      QVERIFY2(text.contains("给了“好评”") && text.contains("回评“好评”，评语：" + QString::fromStdString(dir_->session.autoContent)),
               qPrintable(text));
    }
    QTest::qWait(50);
    QVERIFY(PostedRatings(*sandbox_).empty());  // Cancel posts nothing
    QVERIFY(rows.Contains(good));

    BoxAnswerer ok(QMessageBox::Ok);
    RatingPageCloser closer;
    DoubleClick(w.BuyerRatedList(), good, rows);
    QTRY_VERIFY_WITH_TIMEOUT(!rows.Contains(good), 10000);
    QCOMPARE(RatingsGiven(*sandbox_)[good].value("result", ""), std::string("good"));
    QCOMPARE(RatingsGiven(*sandbox_)[good].value("content", ""), dir_->session.autoContent);
    QCOMPARE(w.StatusText(), QString::fromStdString("已对订单‘" + good + "’回评“好评”，平台已接受。"));

    // A neutral buyer: the buyer's words in the question, "bad" with the
    // prepared comment, and the words stay in the notice, as the buyer's.
    DoubleClick(w.BuyerRatedList(), neutral, rows);
    QTRY_VERIFY_WITH_TIMEOUT(!rows.Contains(neutral), 10000);
    QVERIFY2(ok.boxes.back().text.contains("给了“中评”，评语：发货太慢") &&
                 ok.boxes.back().text.contains("回评“差评”，评语：谢谢，下次快点"),
             qPrintable(ok.boxes.back().text));
    QCOMPARE(Control<QLabel>(&w, "标签7")->text(), QString("买家给的评语是：\r\n发货太慢"));
    QCOMPARE(RatingsGiven(*sandbox_)[neutral].value("result", ""), std::string("bad"));

    // Markup in a bad buyer's words is shown as text in the question.
    DoubleClick(w.BuyerRatedList(), bad, rows);
    QTRY_VERIFY_WITH_TIMEOUT(!rows.Contains(bad), 10000);
    QVERIFY(ok.boxes.back().text.contains("<b>差</b>"));
    QCOMPARE(closer.opened, 0);  // every post was taken: no rating page
    RatingLogWindow log(&w.Run()->Log(), &w);
    QCOMPARE(log.Model().index(0, 3).data().toString(), QString("差评"));
    QCOMPARE(log.Model().index(2, 3).data().toString(), QString("好评"));
  }

  // 回评方式=先差评: the original answer, "bad" first, then the buyer's rating.
  void answersShowTheBuyersRatingOrOpenTheRatingPage() {
    MainWindow& w = *window_;
    OrderRows& rows = w.Book().BuyerRated();
    const std::string neutral = tids_[2], bad = tids_[3], good = tids_[4], good2 = tids_[5];
    // Set by hand in Config.ini: it counts from the run's next start.
    QVERIFY(WriteProfileString(ConfigPath(dir_->Data()), dir_->session.sellerNick, kKeyAnswerStyle, kAnswerBadFirst));
    w.Run()->ChangeSettings(CurrentRunSettings(dir_->session));
    QVERIFY(AddOrderComment(dir_->Data(), neutral, "谢谢，下次快点"));
    // A "bad" answer is asked about first; Cancel posts nothing.
    {
      BoxAnswerer cancel(QMessageBox::Cancel);
      DoubleClick(w.BuyerRatedList(), neutral, rows);
      QCOMPARE(cancel.boxes.size(), size_t(1));
      QCOMPARE(cancel.boxes[0].text, QString::fromStdString("确定要对订单号‘" + neutral + "’回评“差评”吗？"));
      QCOMPARE(cancel.boxes[0].icon, QMessageBox::Question);
    }
    QTest::qWait(50);
    QVERIFY(PostedRatings(*sandbox_).empty());
    QVERIFY(rows.Contains(neutral));
    BoxAnswerer ok(QMessageBox::Ok);

    // A neutral buyer: "bad" with the prepared comment, the red-on-yellow
    // notice just below the pointer, the row gone.
    QWidget* frame = FindControl(&w, "外形框2");
    QCursor::setPos(frame->mapToGlobal(QPoint(100, 200)));
    DoubleClick(w.BuyerRatedList(), neutral, rows);
    QWidget* notice = FindControl(&w, "外形框3");
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    auto* line = Control<QLabel>(&w, "标签6");
    auto* body = Control<QLabel>(&w, "标签7");
    QCOMPARE(line->text(), QString("客户给了你‘中评’"));
    QVERIFY2(line->styleSheet().contains("#ff0000") && line->styleSheet().contains("#ffff00"),
             qPrintable(line->styleSheet()));
    QCOMPARE(body->text(), QString("买家给的评语是：\r\n发货太慢"));
    // Whose words they are, on hover; and what was done, in the status line.
    QVERIFY2(body->toolTip().contains("买家") && body->toolTip().contains(QString::fromStdString(neutral)),
             qPrintable(body->toolTip()));
    QCOMPARE(w.StatusText(), QString::fromStdString("已对订单‘" + neutral + "’回评“差评”，平台已接受。"));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(!notice->isVisible());
    QCOMPARE(notice->y(), 205);
    QVERIFY(!rows.Contains(neutral));
    auto given = RatingsGiven(*sandbox_);
    QCOMPARE(given[neutral].value("result", ""), std::string("bad"));
    QCOMPARE(given[neutral].value("content", ""), std::string("谢谢，下次快点"));

    // A bad buyer whose comment is markup: shown as text, never loaded.
    DoubleClick(w.BuyerRatedList(), bad, rows);
    QTRY_COMPARE_WITH_TIMEOUT(line->text(), QString("客户给了你‘差评’"), 10000);
    QVERIFY(notice->isVisible());
    QCOMPARE(body->text(), QString("买家给的评语是：\r\n<img src=\"http://127.0.0.1:9/x.png\"><b>差</b>"));
    QCOMPARE(body->textFormat(), Qt::PlainText);
    QCOMPARE(RatingsGiven(*sandbox_)[bad].value("content", ""), std::string(kDefaultManualComment));

    // A good buyer: the rating-page window; the row stays unless it was
    // closed as modified.
    RatingPageCloser closer;
    DoubleClick(w.BuyerRatedList(), good, rows);
    QTRY_COMPARE_WITH_TIMEOUT(closer.opened, 1, 10000);
    QTest::qWait(50);
    QVERIFY(rows.Contains(good));
    closer.closeWith = "超级按钮3";
    DoubleClick(w.BuyerRatedList(), good2, rows);
    QTRY_COMPARE_WITH_TIMEOUT(closer.opened, 2, 10000);
    QTRY_VERIFY(!rows.Contains(good2));
    QCOMPARE(dir_->session.pageEdited, 0);
    QCOMPARE(PostedRatings(*sandbox_), (std::vector<std::string>{neutral, bad, good, good2}));

    // No current row: a double-click does nothing.
    w.BuyerRatedList().Widget()->selectionModel()->clear();
    emit w.BuyerRatedList().Widget()->doubleClicked(QModelIndex());
    QTest::qWait(50);
    QCOMPARE(PostedRatings(*sandbox_).size(), size_t(4));
    QVERIFY(ends_->codes.empty());

    // A refusal says why, in the platform's words, in a warning box and the status line.
    const std::string refused = tids_[6];
    QVERIFY(AddOrderComment(dir_->Data(), refused, std::string(501, 'x')));
    const std::size_t before = ok.boxes.size();
    DoubleClick(w.BuyerRatedList(), refused, rows);
    QTRY_COMPARE_WITH_TIMEOUT(closer.opened, 3, 10000);
    QCOMPARE(ok.boxes.size(), before + 2);
    const auto& warning = ok.boxes[before + 1];
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QVERIFY2(warning.text.contains(QString::fromStdString(refused)) && warning.text.contains("被平台拒绝") &&
                 warning.text.contains("longer than 500"),
             qPrintable(warning.text));
    QCOMPARE(w.StatusText(), warning.text);
  }

  void unratedOrdersAreRatedAfterTheQuestionAndGetTheirOwnComments() {
    MainWindow& w = *window_;
    OrderRows& rows = w.Book().Unrated();
    const std::string first = tids_[0], second = tids_[1];
    {
      // Cancel posts nothing and keeps the row.
      BoxAnswerer cancel(QMessageBox::Cancel);
      DoubleClick(w.UnratedList(), first, rows);
      QTRY_COMPARE(cancel.boxes.size(), size_t(1));
      QCOMPARE(cancel.boxes[0].title, QString(" 评价订单"));
      QCOMPARE(cancel.boxes[0].text, QString::fromStdString("确定要对订单号‘" + first + "’进行评价吗？ \n\n将评价“好评”，评语：" +
                                                            dir_->session.autoContent));
      QCOMPARE(cancel.boxes[0].icon, QMessageBox::Information);
      QCOMPARE(cancel.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }
    QTest::qWait(50);
    QVERIFY(PostedRatings(*sandbox_).empty());
    QVERIFY(rows.Contains(first));

    // "提前评价" with OK: "good" with the standing comment, the row gone.
    {
      BoxAnswerer ok(QMessageBox::Ok);
      Select(w.UnratedList(), first, rows);
      QCOMPARE(MenuOpenedBy(w.UnratedList()), QString("表一鼠标右键"));
      // Below the rows, with an order current, the menu is the one for no order.
      QCOMPARE(MenuOpenedBy(w.UnratedList(), QPoint(5, w.UnratedList().Widget()->viewport()->height() - 3)),
               QString("空白右键"));
      FindMenuItem(w.Menu("表一鼠标右键"), "提前评价")->trigger();
      QTRY_VERIFY_WITH_TIMEOUT(!rows.Contains(first), 10000);
      QVERIFY(ok.boxes[0].text.startsWith(QString::fromStdString("确定要对订单号‘" + first + "’提前评价吗？ ")));
      QTRY_COMPARE(w.StatusText(), QString::fromStdString("已对订单‘" + first + "’评价“好评”，平台已接受。"));
    }
    const auto given = RatingsGiven(*sandbox_);
    QCOMPARE(given.at(first).value("result", ""), std::string("good"));
    QCOMPARE(given.at(first).value("content", ""), dir_->session.autoContent);

    // "单独评语": the buyer's name in the prompt as text, the answer stored for the order.
    const std::string buyer(rows.Cell(rows.Find(second), kColumnBuyer));
    QString prompt;
    {
      DialogAnswerer<QInputDialog> typist([&](QInputDialog* box) {
        prompt = box->labelText();
        QCOMPARE(box->windowTitle(), QString("为该订单写单独的评语。"));
        QCOMPARE(box->textValue(), QString::fromStdString(dir_->session.autoContent));  // the standing comment
        box->setTextValue("<b>老顾客</b>");
        box->accept();
      });
      Select(w.UnratedList(), second, rows);
      FindMenuItem(w.Menu("表一鼠标右键"), "单独评语")->trigger();
    }
    QCOMPARE(prompt, QString::fromStdString("‘" + buyer + "’的评语。"));
    QCOMPARE(ReadManualComment(dir_->Data(), second), std::string("<b>老顾客</b>"));
    QCOMPARE(w.StatusText(), QString::fromStdString("订单‘" + second + "’的单独评语已保存。"));
    // Asked again, the box starts from what was stored.
    {
      DialogAnswerer<QInputDialog> typist([&](QInputDialog* box) {
        QCOMPARE(box->textValue(), QString("<b>老顾客</b>"));
        box->reject();
      });
      FindMenuItem(w.Menu("表一鼠标右键"), "单独评语")->trigger();
    }

    // Kept from automatic rating: 到期 says so at once, the deadline on hover.
    FindMenuItem(w.Menu("表一鼠标右键"), "不自动评价该买家")->trigger();
    const QModelIndex left = w.UnratedList().Model()->index(rows.Find(second), kColumnTimeLeft);
    QCOMPARE(left.data().toString(), QString("不自动评价"));
    QVERIFY(left.data(Qt::ToolTipRole).toString().contains("天"));
    QVERIFY(w.Run()->Keep().KeepsBuyer(buyer));

    // The copy items take the current order's cells.
    FindMenuItem(w.Menu("表一鼠标右键"), "复制旺旺")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(buyer));

    // The hidden end-time column opens when the user drags its edge.
    QHeaderView* header = w.UnratedList().Widget()->header();
    QCOMPARE(header->sectionSize(kColumnEndTime), 0);
    const int edge = header->sectionViewportPosition(kColumnTimeLeft) + 1;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(edge + 120, 5), header->viewport()->mapToGlobal(QPointF(edge + 120, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &move);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 120, 5));
    QVERIFY2(header->sectionSize(kColumnEndTime) > 60, qPrintable(QString::number(header->sectionSize(kColumnEndTime))));
  }

  // 更多设置 with a run: a comment the platform would refuse is refused
  // before anything is written; saved settings reach the run at once (the
  // next answers take the new comments in turn, never the editor's line
  // breaks), the files hold them for the next start, the window shows them
  // again, and a kept buyer is released there.
  void theSecondSettingsPageSteersTheRunningProgram() {
    MainWindow& w = *window_;
    const std::string nick = dir_->session.sellerNick;
    QVERIFY(w.Run()->Keep().KeepBuyer("留着的买家"));
    const std::string configBefore = ReadFileBytes(ConfigPath(dir_->Data()));
    {
      BoxAnswerer boxes;
      WithRunSettings(w, [this](RunSettingsWindow* more) {
        QCOMPARE(more->FirstCommentBox()->toPlainText(), QString::fromStdString(dir_->session.autoContent));
        more->FirstCommentBox()->setPlainText(QString(501, QChar(0x597D)));
        Control<QPushButton>(more, "保存按钮")->click();
        QVERIFY(more->isVisible());
      });
      QCOMPARE(boxes.boxes.size(), size_t(1));
      QVERIFY2(boxes.boxes[0].text.contains("501 个字"), qPrintable(boxes.boxes[0].text));
    }
    QCOMPARE(ReadFileBytes(ConfigPath(dir_->Data())), configBefore);

    WithRunSettings(w, [](RunSettingsWindow* more) {
      QCOMPARE(more->KeptList()->count(), 1);
      more->KeptList()->item(0)->setSelected(true);
      Control<QPushButton>(more, "解除按钮")->click();
      QCOMPARE(more->KeptList()->item(0)->flags(), Qt::NoItemFlags);  // nothing kept any more
      more->FirstCommentBox()->setPlainText("谢谢惠顾\n\n");
      more->MoreCommentsBox()->setPlainText("  第二条  \n\n第三条\n");
      more->CommentUseBox()->setCurrentIndex(1);
      more->RatingHoursBox()->setValue(36.5);
      more->ReloadMinutesBox()->setValue(0);
      more->AlertsBox()->setChecked(false);
      Control<QPushButton>(more, "保存按钮")->click();
      QVERIFY(!more->isVisible());
    });
    QVERIFY(!w.Run()->Keep().KeepsBuyer("留着的买家"));
    const RunSettings& now = w.Run()->Settings();
    QVERIFY(now.comments == (std::vector<std::string>{"谢谢惠顾", "第二条", "第三条"}));
    QVERIFY(now.commentUse == CommentUse::InTurn && now.reloadMinutes == 0 && !now.badRatingAlerts);
    QCOMPARE(now.ratingHours, 36.5f);
    // The files hold it for the next start.
    QCOMPARE(ReadFileBytes(dir_->session.PathOf(AutoCommentFileName(nick))), Utf8ToGbk("谢谢惠顾"));
    QCOMPARE(ReadSetting(dir_->Data(), nick, kKeyRatingHours), std::string("36.5"));
    QCOMPARE(ReadSetting(dir_->Data(), nick, kKeyCommentUse), std::string(kCommentsInTurn));
    QCOMPARE(ReadSetting(dir_->Data(), nick, kKeyReloadMinutes), std::string("0"));
    QCOMPARE(ReadSetting(dir_->Data(), nick, kKeyBadRatingAlerts), std::string("0"));

    // Two good buyers answered: the comments in turn.
    BoxAnswerer ok(QMessageBox::Ok);
    RatingPageCloser closer;
    OrderRows& rows = w.Book().BuyerRated();
    for (const std::string& tid : {tids_[4], tids_[5]}) {
      DoubleClick(w.BuyerRatedList(), tid, rows);
      QTRY_VERIFY_WITH_TIMEOUT(!rows.Contains(tid), 10000);
    }
    QCOMPARE(RatingsGiven(*sandbox_)[tids_[4]].value("content", ""), std::string("谢谢惠顾"));
    QCOMPARE(RatingsGiven(*sandbox_)[tids_[5]].value("content", ""), std::string("第二条"));
    WithRunSettings(w, [](RunSettingsWindow* more) {
      QCOMPARE(more->MoreCommentsBox()->toPlainText(), QString("第二条\n第三条\n"));
      QCOMPARE(more->RatingHoursBox()->value(), 36.5);
      QCOMPARE(more->ReloadMinutesBox()->text(), QString("不重新读取"));
    });
  }

  void selectedBuyerRatedOrdersAreAnsweredLastFirst() {
    MainWindow& w = *window_;
    OrderRows& rows = w.Book().BuyerRated();
    QtOrderList& list = w.BuyerRatedList();
    QCOMPARE(MenuOpenedBy(list), QString("空白右键"));

    const std::string row2(rows.Cell(2, kColumnOrderNumber)), row5(rows.Cell(5, kColumnOrderNumber));
    QItemSelectionModel* selection = list.Widget()->selectionModel();
    selection->setCurrentIndex(list.Model()->index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->select(list.Model()->index(5, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(MenuOpenedBy(list), QString("表二鼠标右键"));
    FindMenuItem(w.Menu("表二鼠标右键"), "复制订单编号")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(row2));

    RatingPageCloser closer;
    BoxAnswerer ok(QMessageBox::Ok);
    // In kind: one question lists what each buyer gave and the reply.
    FindMenuItem(w.Menu("表二鼠标右键"), "评价选中订单")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(w.StatusText(), QString("已回评 2 笔（好评 2 笔，差评 0 笔），平台都已接受。"), 10000);
    QCOMPARE(ok.boxes.size(), size_t(1));
    QVERIFY2(ok.boxes[0].text.contains(QString::fromStdString("订单‘" + row5 + "’")) &&
                 ok.boxes[0].text.indexOf(QString::fromStdString(row5)) < ok.boxes[0].text.indexOf(QString::fromStdString(row2)) &&
                 ok.boxes[0].text.contains("确定要回评这 2 笔订单吗？"),
             qPrintable(ok.boxes[0].text));
    QCOMPARE(PostedRatings(*sandbox_), (std::vector<std::string>{row5, row2}));
    QVERIFY(!rows.Contains(row2) && !rows.Contains(row5));
    QCOMPARE(rows.RowCount(), 8);
    QTest::qWait(100);
    QCOMPARE(closer.opened, 0);  // all taken: no rating page

    // The original answer (回评方式=先差评, chosen in 更多设置): "bad" to every
    // one, then the rating page.
    WithRunSettings(w, [](RunSettingsWindow* more) {
      more->AnswerStyleBox()->setCurrentIndex(1);
      Control<QPushButton>(more, "保存按钮")->click();
      QVERIFY(!more->isVisible());
    });
    QCOMPARE(ReadSetting(dir_->Data(), dir_->session.sellerNick, kKeyAnswerStyle), std::string(kAnswerBadFirst));
    const std::string row0(rows.Cell(0, kColumnOrderNumber));
    selection->setCurrentIndex(list.Model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    FindMenuItem(w.Menu("表二鼠标右键"), "评价选中订单")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(closer.opened, 1, 10000);
    QCOMPARE(ok.boxes.back().text, QString::fromStdString("确定要对订单号‘" + row0 + "’回评“差评”吗？"));
    QCOMPARE(w.StatusText(), QString("已回评 1 笔“差评”，平台都已接受。"));
    QCOMPARE(RatingsGiven(*sandbox_)[row0].value("result", ""), std::string("bad"));

    // The rating log: newest first, filtered by order number, exported as shown.
    RatingLogWindow log(&w.Run()->Log(), &w);
    QCOMPARE(log.Model().rowCount(), 3);
    QCOMPARE(log.Model().index(0, 1).data().toString(), QString::fromStdString(row0));
    QCOMPARE(log.Model().index(0, 3).data().toString(), QString("差评"));
    QCOMPARE(log.Model().index(1, 1).data().toString(), QString::fromStdString(row2));
    QCOMPARE(log.Model().index(1, 5).data().toString(), QString("选中"));
    QCOMPARE(log.Model().index(1, 6).data().toString(), QString("已评价"));
    QCOMPARE(log.Model().index(1, 3).data().toString(), QString("好评"));
    log.Filter()->setText(QString::fromStdString(row5));
    QCOMPARE(log.Model().rowCount(), 1);
    TempDir elsewhere;  // never into the program directory
    const std::string csv = elsewhere.File("shown.csv");
    QVERIFY(log.ExportTo(csv));
    const std::string shown = ReadFileBytes(csv);
    QCOMPARE(std::count(shown.begin(), shown.end(), '\n'), std::ptrdiff_t(2));
    QVERIFY(shown.find(row5) != std::string::npos && shown.find(row2) == std::string::npos);
    QVERIFY(shown.find("\"好评\"") != std::string::npos && shown.find("\"已评价\"") != std::string::npos);
    QVERIFY(shown.find("时间,订单编号") != std::string::npos);
  }
};

QTEST_MAIN(ManualRatingTest)
#include "manual_rating_test.moc"
