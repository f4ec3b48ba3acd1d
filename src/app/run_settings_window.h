#pragma once
// "更多设置": everything about the running seller's work that is not the
// application key: the standing comments and how they take turns, the lead
// time 评价时间, the reload interval, the alerts, the way buyer-rated orders
// are answered, and the orders and buyers kept from automatic rating. Opened
// modally from 系统设置; 保存 writes Config.ini and the comment file and hands
// the new settings to the run, which uses them from its next step on.
#include <QDialog>
#include <string>

#include "settings/app_session.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;

namespace qm {

class AlertOutbox;
class SellerRun;

inline constexpr const char* kRunSettingsTitle = "更多设置";

class RunSettingsWindow : public QDialog {
  Q_OBJECT
 public:
  // `run`: the running seller's, whose settings a save changes at once; null
  // before one runs (the files alone change). The seller and their files are
  // the start-up record `session`'s.
  RunSettingsWindow(AppSession& session, SellerRun* run, AlertOutbox* outbox, QWidget* owner = nullptr);

  QPlainTextEdit* FirstCommentBox() const { return firstComment_; }
  QPlainTextEdit* MoreCommentsBox() const { return moreComments_; }
  QComboBox* CommentUseBox() const { return commentUse_; }
  QDoubleSpinBox* RatingHoursBox() const { return ratingHours_; }
  QSpinBox* ReloadMinutesBox() const { return reloadMinutes_; }
  QCheckBox* AlertsBox() const { return alerts_; }
  QComboBox* AnswerStyleBox() const { return answerStyle_; }
  QListWidget* KeptList() const { return kept_; }

  // 保存: checks every comment first; nothing is written when one is refused.
  // False (the window stays open, a box said why) when something was not saved.
  bool Save();

 private:
  void ShowKeptEntries();
  // 解除: the selected orders and buyers may be rated automatically again.
  void ReleaseKept();

  AppSession& session_;
  SellerRun* run_ = nullptr;
  AlertOutbox* outbox_ = nullptr;  // where the alerts go, for 提醒设置; may be null
  QPlainTextEdit* firstComment_ = nullptr;
  QPlainTextEdit* moreComments_ = nullptr;
  QComboBox* commentUse_ = nullptr;
  QDoubleSpinBox* ratingHours_ = nullptr;
  QSpinBox* reloadMinutes_ = nullptr;
  QCheckBox* alerts_ = nullptr;
  QComboBox* answerStyle_ = nullptr;
  QListWidget* kept_ = nullptr;
};

}  // namespace qm
