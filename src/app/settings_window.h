#pragma once
// The settings window "系统设置": the application key and secret of the
// running seller's section of Config.ini, and the prepared comment of a single
// order. Opened modally from the main window's "系统设置", made anew at each
// opening, so every opening reads the key and secret from the file again.
#include <QDialog>
#include <string>

#include "settings/app_session.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm {

class AlertOutbox;
class SellerRun;

inline constexpr const char* kSettingsTitle = "系统设置";

class SettingsWindow : public QDialog {
  Q_OBJECT
 public:
  // `run`: the running seller's, which 更多设置 changes; null before one runs.
  // The seller and their files are the start-up record `session`'s.
  SettingsWindow(AppSession& session, SellerRun* run, AlertOutbox* outbox, QWidget* owner = nullptr);

  QLineEdit* AppKeyBox() const { return appKey_; }
  QLineEdit* AppSecretBox() const { return appSecret_; }
  QLineEdit* SellerBox() const { return seller_; }
  QLineEdit* OrderBox() const { return order_; }
  QPlainTextEdit* CommentBox() const { return comment_; }
  // "更多设置…": the run's settings (RunSettingsWindow).
  QPushButton* MoreButton() const { return more_; }

 private:
  // "设置API信息": key and secret into the running seller's section. An empty
  // box writes nothing; the running session keeps the values it started with.
  void SaveApiSettings();
  // "添加订单": the comment for the order, replacing an earlier one; both
  // boxes are emptied once it is stored.
  void AddOrder();

  AppSession& session_;
  QLineEdit* appKey_ = nullptr;
  QLineEdit* appSecret_ = nullptr;
  QLineEdit* seller_ = nullptr;
  QLineEdit* order_ = nullptr;
  QPlainTextEdit* comment_ = nullptr;
  QPushButton* more_ = nullptr;
  SellerRun* run_ = nullptr;
  AlertOutbox* outbox_ = nullptr;
};

// Shows a fresh SettingsWindow modally, owned by `owner`, and returns when it
// has been closed.
void OpenSettingsWindow(AppSession& session, SellerRun* run, QWidget* owner);

}  // namespace qm
