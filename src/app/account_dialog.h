#pragma once
// The seller-account choice shown at start: the sections of Config.ini in an
// editable account box, "登  录" to go on, "×" to end the program.
#include <QColor>
#include <QDialog>
#include <string>

class QComboBox;
class QPushButton;

namespace qm {

// The account box's text colour before a choice and after one.
inline const QColor kAccountIdleColour{0, 136, 255};
inline const QColor kAccountChosenColour{0, 96, 192};

inline constexpr const char* kBadAccountTitle = "帐号名称无效";
inline constexpr const char* kBadSettingsTitle = "设置文件无法使用";
inline constexpr const char* kAlreadyRunningTitle = "已经在运行";
inline constexpr const char* kFilesUnusableTitle = "文件无法使用";

class AccountDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AccountDialog(QWidget* owner = nullptr);

  // `quillmere --account NICK`: the dialog logs in with NICK once it is shown,
  // as if the seller had typed it and pressed "登  录".
  void ChooseOnShow(const std::string& account);

  QComboBox* AccountBox() const { return box_; }
  QPushButton* LoginButton() const { return login_; }
  // "添加帐号": the setup form; a saved account is chosen and logged in.
  QPushButton* AddButton() const { return add_; }
  // The account box's text colour.
  QColor AccountColour() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SetAccountColour(const QColor& colour);
  void OnLogin();
  void AddAccount();

  QComboBox* box_ = nullptr;
  QPushButton* login_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* close_ = nullptr;
  std::string chosen_;
};

}  // namespace qm
