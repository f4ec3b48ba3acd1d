#include "rating/run_settings.h"

#include "rating/comments.h"
#include "settings/app_session.h"

namespace qm {

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

}  // namespace qm
