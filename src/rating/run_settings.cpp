#include "rating/run_settings.h"

#include "rating/comments.h"
#include "rating/schedule.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "util/text_codec.h"

namespace qm {

namespace {

// Why a comment cannot be sent or stored; empty when it can.
std::string CommentProblem(const std::string& text, const std::string& which) {
  if (const std::size_t length = CommentLength(text); length > kCommentLimit)
    return which + "有 " + std::to_string(length) + " 个字，淘宝最多接受 " + std::to_string(kCommentLimit) + " 个字。";
  if (!IsValidUtf8(text)) return which + "含有无法保存的字符。";
  return {};
}

}  // namespace

const std::string& RunSettings::FirstComment() const {
  static const std::string kNone;
  return comments.empty() ? kNone : comments.front();
}

CommentUse ParseCommentUse(const std::string& text) {
  if (text == kCommentsInTurn) return CommentUse::InTurn;
  if (text == kCommentsAtRandom) return CommentUse::AtRandom;
  return CommentUse::FirstOnly;
}

const char* CommentUseText(CommentUse use) {
  switch (use) {
    case CommentUse::InTurn: return kCommentsInTurn;
    case CommentUse::AtRandom: return kCommentsAtRandom;
    case CommentUse::FirstOnly: break;
  }
  return "";
}

namespace {

// The first comment, lead time and reload interval given; the rest as the
// seller's Config.ini holds it.
RunSettings SettingsWith(const std::string& dir, const std::string& nick, const std::string& first, float ratingHours,
                         int reloadMinutes) {
  RunSettings settings;
  settings.comments.push_back(first);
  for (std::string& more : ReadMoreComments(dir, nick)) settings.comments.push_back(std::move(more));
  settings.commentUse = ParseCommentUse(ReadSetting(dir, nick, kKeyCommentUse));
  settings.ratingHours = ratingHours;
  settings.reloadMinutes = reloadMinutes;
  settings.badRatingAlerts = BadRatingAlertsOn(dir, nick);
  settings.answerBadFirst = AnswerBadFirst(dir, nick);
  return settings;
}

}  // namespace

RunSettings CurrentRunSettings(const AppSession& s) {
  return SettingsWith(s.programDir, s.sellerNick, s.autoContent, s.ratingHours, s.reloadMinutes);
}

bool SaveRunSettings(const std::string& dir, const std::string& nick, SellerRun* run, const RunSettings& settings,
                     std::string* problem) {
  const std::string first = settings.FirstComment();
  const std::vector<std::string> more(settings.comments.size() > 1 ? settings.comments.begin() + 1 : settings.comments.end(),
                                      settings.comments.end());
  std::string why = CommentProblem(first, "自动评价内容");
  for (std::size_t i = 0; why.empty() && i < more.size(); ++i) {
    why = CommentProblem(more[i], "其他评语第 " + std::to_string(i + 1) + " 条");
    if (why.empty() && !GbkCanHold(more[i])) why = "其他评语第 " + std::to_string(i + 1) + " 条含有无法保存的字符。";
  }
  if (why.empty() && more.size() + 1 > static_cast<std::size_t>(kMostStandingComments))
    why = "评语最多 " + std::to_string(kMostStandingComments) + " 条。";
  if (!why.empty()) {
    if (problem) *problem = why + "没有保存。";
    return false;
  }
  const char* use = CommentUseText(settings.commentUse);
  const bool written = SaveAutoComment(dir, nick, first) && SaveMoreComments(dir, nick, more) &&
                       (*use != '\0' ? WriteSetting(dir, nick, kKeyCommentUse, use) : RemoveSetting(dir, nick, kKeyCommentUse)) &&
                       WriteRatingHoursSetting(dir, nick, RatingHoursText(settings.ratingHours)) &&
                       WriteSetting(dir, nick, kKeyReloadMinutes, std::to_string(settings.reloadMinutes)) &&
                       WriteSetting(dir, nick, kKeyBadRatingAlerts, settings.badRatingAlerts ? "1" : "0") &&
                       WriteSetting(dir, nick, kKeyAnswerStyle, settings.answerBadFirst ? kAnswerBadFirst : kAnswerInKind);
  // What was written counts from the run's next step, whatever failed after it.
  if (run != nullptr) {
    run->ChangeSettings(written ? settings
                                : SettingsWith(dir, nick, first, settings.ratingHours, settings.reloadMinutes));
    run->Book().Unrated().Repaint();
  }
  if (!written && problem) {
    *problem = "设置无法全部写入“" + std::string(kConfigFileName) + "”或“" + AutoCommentFileName(nick) +
               "”，请检查文件是否可写。";
  }
  return written;
}

}  // namespace qm
