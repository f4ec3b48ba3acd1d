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

RunSettings CurrentRunSettings() {
  const AppSession& s = Session();
  RunSettings settings;
  settings.comments.push_back(s.autoContent);
  for (std::string& more : ReadMoreComments(s.sellerNick)) settings.comments.push_back(std::move(more));
  settings.commentUse = ParseCommentUse(ReadSetting(s.sellerNick, kKeyCommentUse));
  settings.ratingHours = s.ratingHours;
  settings.reloadMinutes = s.reloadMinutes;
  settings.badRatingAlerts = BadRatingAlertsOn(s.sellerNick);
  settings.answerBadFirst = AnswerBadFirst(s.sellerNick);
  return settings;
}

bool SaveRunSettings(SellerRun* run, const RunSettings& settings, std::string* problem) {
  const std::string& nick = Session().sellerNick;
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
  const bool written = SaveAutoComment(nick, first) && SaveMoreComments(nick, more) &&
                       (*use != '\0' ? WriteSetting(nick, kKeyCommentUse, use) : RemoveSetting(nick, kKeyCommentUse)) &&
                       WriteRatingHoursSetting(nick, RatingHoursText(settings.ratingHours)) &&
                       WriteSetting(nick, kKeyReloadMinutes, std::to_string(settings.reloadMinutes)) &&
                       WriteSetting(nick, kKeyBadRatingAlerts, settings.badRatingAlerts ? "1" : "0") &&
                       WriteSetting(nick, kKeyAnswerStyle, settings.answerBadFirst ? kAnswerBadFirst : kAnswerInKind);
  // What was written counts from the run's next step, whatever failed after it.
  AppSession& s = Session();
  s.autoContent = first;
  s.ratingHours = settings.ratingHours;
  s.reloadMinutes = settings.reloadMinutes;
  if (run != nullptr) {
    run->ChangeSettings(written ? settings : CurrentRunSettings());
    run->Book().Unrated().Repaint();
  }
  if (!written && problem) {
    *problem = "设置无法全部写入“" + std::string(kConfigFileName) + "”或“" + AutoCommentFileName(nick) +
               "”，请检查文件是否可写。";
  }
  return written;
}

}  // namespace qm
