#pragma once
// The form a new seller fills in on the first start: the application key and
// secret and the seller's name, laid out as the settings window's
// 淘宝API基本设置 box, then the standing comment and the lead time, so that
// nothing is posted the seller has not seen. "保存并登录" writes the
// account's section of Config.ini (a file for its owner only) and its comment
// file and closes the form; "×" and Esc close it without writing.
#include <QDialog>
#include <string>

#include "app/layout.h"

class QDoubleSpinBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm {

inline constexpr const char* kAccountSetupTitle = "设置卖家帐号";

// The form's layout record, built like the five windows'.
const WindowLayout& AccountSetupLayout();

class AccountSetupDialog : public QDialog {
  Q_OBJECT
 public:
  // `nick` fills the seller box; with `nickFixed` (the account is already
  // chosen and its files are held) it cannot be changed. The key and secret
  // the section already has fill their boxes.
  // The account's files are those of the data directory `dir`.
  AccountSetupDialog(QWidget* owner, const std::string& dir, const std::string& nick, bool nickFixed);

  // The section written, as it stands in Config.ini; empty until saved.
  const std::string& SavedAccount() const { return saved_; }

  QLineEdit* AppKeyBox() const { return appKey_; }
  QLineEdit* AppSecretBox() const { return appSecret_; }
  QLineEdit* SellerBox() const { return seller_; }
  QPushButton* SaveButton() const { return save_; }
  // The standing comment (the account's file, or the default) and the lead time.
  QPlainTextEdit* CommentBox() const { return comment_; }
  QDoubleSpinBox* RatingHoursBox() const { return ratingHours_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Save();

  QLineEdit* appKey_ = nullptr;
  QLineEdit* appSecret_ = nullptr;
  QLineEdit* seller_ = nullptr;
  QPushButton* save_ = nullptr;
  QPlainTextEdit* comment_ = nullptr;
  QDoubleSpinBox* ratingHours_ = nullptr;
  std::string dir_;
  std::string saved_;
};

}  // namespace qm
