#pragma once
// The seller-account choice shown at start: the sections of Config.ini in an
// editable account box (the one used last chosen), "登  录" to go on, the
// setup form for a name that is not set up, "删除帐号" to remove one, "×" to
// end the program.
#include <QColor>
#include <QDialog>
#include <string>

#include "app/shutdown.h"
#include "settings/app_session.h"

class QComboBox;
class QPushButton;

namespace qm {

struct StartupStep;

// The account box's text colour before a choice and after one.
inline const QColor kAccountIdleColour{0, 136, 255};
inline const QColor kAccountChosenColour{0, 96, 192};

inline constexpr const char* kBadAccountTitle = "帐号名称无效";
inline constexpr const char* kBadSettingsTitle = "设置文件无法使用";
inline constexpr const char* kAlreadyRunningTitle = "已经在运行";
inline constexpr const char* kFilesUnusableTitle = "文件无法使用";
inline constexpr const char* kRemoveAccountTitle = "删除帐号";
inline constexpr const char* kNotSetUpTitle = "帐号尚未设置";

class AccountDialog : public QDialog {
  Q_OBJECT
 public:
  // The chosen account is opened into `session`, the start-up record. The
  // dialog's "×" and the refusals that leave nothing to choose end the
  // program through `end`.
  AccountDialog(AppSession& session, ProgramEnd end, QWidget* owner = nullptr);

  // `quillmere --account NICK`: the dialog logs in with NICK once it is shown,
  // as if the seller had typed it and pressed "登  录".
  void ChooseOnShow(const std::string& account);

  QComboBox* AccountBox() const { return box_; }
  QPushButton* LoginButton() const { return login_; }
  // "添加帐号": the setup form; a saved account is chosen and logged in.
  QPushButton* AddButton() const { return add_; }
  // "删除帐号": removes the account named in the box after a question.
  QPushButton* RemoveButton() const { return remove_; }
  // The account box's text colour.
  QColor AccountColour() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SetAccountColour(const QColor& colour);
  // The accounts of Config.ini; with `chooseLast` the one used last is chosen.
  void FillAccounts(bool chooseLast);
  // The listed account the box's text names (without regard to ASCII case), or empty.
  std::string ListedAccount() const;
  void OnLogin();
  // The message, then the setup form for `nick`; true when it was saved.
  bool SetUpAccount(const std::string& nick);
  // Says why the account cannot be opened; ends the program where the
  // reason is not the name.
  void Refuse(const StartupStep& step);
  void AddAccount();
  void RemoveChosenAccount();

  AppSession& session_;
  ProgramEnd end_;
  QComboBox* box_ = nullptr;
  QPushButton* login_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* close_ = nullptr;
  std::string chosen_;
};

}  // namespace qm
