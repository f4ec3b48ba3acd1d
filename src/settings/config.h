#pragma once
// Config.ini beside the program: one section per seller account (the seller's
// account name), with the keys "appkey", "AppSecret", "SessionKey" and
// "评价时间" (the rating lead time in hours, as text). Texts are UTF-8.
#include <string>
#include <vector>

namespace qm {

inline constexpr const char* kConfigFileName = "Config.ini";
inline constexpr const char* kKeyAppKey = "appkey";
inline constexpr const char* kKeyAppSecret = "AppSecret";
inline constexpr const char* kKeySessionKey = "SessionKey";
inline constexpr const char* kKeyRatingHours = "评价时间";
// "1" (or missing) checks new buyer ratings for neutral and bad ones; "0" does not.
inline constexpr const char* kKeyBadRatingAlerts = "差评提醒";
// Minutes between reloads of the unrated orders while the program runs; 0 turns them off.
inline constexpr const char* kKeyReloadMinutes = "重新读取间隔";
// How a buyer-rated order is answered: "按买家评价" (in kind, the default) or
// "先差评" (a "bad" first, then the buyer's rating is read).
inline constexpr const char* kKeyAnswerStyle = "回评方式";
inline constexpr const char* kAnswerBadFirst = "先差评";
inline constexpr const char* kAnswerInKind = "按买家评价";
// How the standing comments take turns: "轮流" (in turn), "随机" (at random),
// or missing: the first one only.
inline constexpr const char* kKeyCommentUse = "评语用法";
inline constexpr const char* kCommentsInTurn = "轮流";
inline constexpr const char* kCommentsAtRandom = "随机";
// The standing comments after the comment file's: "评语2", "评语3", ... one line each.
inline constexpr const char* kKeyMoreComment = "评语";
inline constexpr int kMostStandingComments = 20;
inline constexpr int kDefaultReloadMinutes = 60;
// A count kept in each account's section, raised past all others when the
// account is logged in with: the highest is the account used last. A key of
// the sections, not a section of its own, so that no reader of the file
// takes it for an account.
inline constexpr const char* kKeyLoginOrder = "登录次序";

// Config.ini in the data directory `dir`. Every function below reads or
// writes the Config.ini of the data directory it is given.
std::string ConfigPath(const std::string& dir);

// The seller accounts: the section names of Config.ini in file order.
std::vector<std::string> AccountNames(const std::string& dir);

// The section name, as it stands in Config.ini, that lookups by `nick` read
// (names compare without regard to ASCII case, first match wins); `nick` as
// given when there is none. Every file and lock of the account is named after
// it, so that one seller is one account however its name was typed.
std::string AccountSectionName(const std::string& dir, const std::string& nick);

// Each read gives the empty text when the file, the section or the key is missing.
std::string ReadAppKey(const std::string& dir, const std::string& nick);
std::string ReadAppSecret(const std::string& dir, const std::string& nick);
std::string ReadSessionKey(const std::string& dir, const std::string& nick);
// The raw text of "评价时间"; the caller decides what a missing or odd value means.
std::string ReadRatingHoursSetting(const std::string& dir, const std::string& nick);
// False only when "差评提醒" is "0".
bool BadRatingAlertsOn(const std::string& dir, const std::string& nick);
// True only when "回评方式" is "先差评".
bool AnswerBadFirst(const std::string& dir, const std::string& nick);
// "重新读取间隔" as whole minutes: kDefaultReloadMinutes when missing or not a
// whole number from 0 to a year of minutes.
int ReadReloadMinutes(const std::string& dir, const std::string& nick);

// True when the account's section has both "appkey" and "AppSecret": only
// such an account gets keys written for it by the program's own doing.
bool AccountIsSetUp(const std::string& dir, const std::string& nick);

// Records that the set-up account was logged in with (kKeyLoginOrder);
// writes nothing for an account that is not set up. False when not written.
bool MarkAccountUsed(const std::string& dir, const std::string& nick);
// The account logged in with last, as its section is named; empty when no
// section has a login order (a file from before it was kept).
std::string LastUsedAccount(const std::string& dir);

// Removes the account's section (each section of that name) from Config.ini;
// nothing else of the account. True when no such section is left.
bool RemoveAccountSection(const std::string& dir, const std::string& nick);

// Each write creates the file and the section when missing; false when the
// write was refused (see WriteProfileString) or failed.
bool WriteAppKey(const std::string& dir, const std::string& nick, const std::string& value);
bool WriteAppSecret(const std::string& dir, const std::string& nick, const std::string& value);
bool WriteSessionKey(const std::string& dir, const std::string& nick, const std::string& value);
bool WriteRatingHoursSetting(const std::string& dir, const std::string& nick, const std::string& value);
// Any key of the seller's section.
std::string ReadSetting(const std::string& dir, const std::string& nick, const std::string& key);
bool WriteSetting(const std::string& dir, const std::string& nick, const std::string& key, const std::string& value);
// Removes the key; true when it is gone (or was never there).
bool RemoveSetting(const std::string& dir, const std::string& nick, const std::string& key);

}  // namespace qm
