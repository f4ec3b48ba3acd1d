#pragma once
// What the seller set for a run: taken when the run is built and changed
// through the run (on the UI thread) when the seller saves new settings, so
// that the run never looks them up while it works.
#include <string>
#include <vector>

#include "settings/config.h"

namespace qm {

// How the standing comments take turns.
enum class CommentUse { FirstOnly, InTurn, AtRandom };

struct RunSettings {
  // The standing comments: the comment file's first, then Config.ini's "评语2", ...
  std::vector<std::string> comments;
  CommentUse commentUse = CommentUse::FirstOnly;
  float ratingHours = 24.0f;                  // 评价时间: the lead before the deadline
  int reloadMinutes = kDefaultReloadMinutes;  // 重新读取间隔; 0: none
  bool badRatingAlerts = true;                // 差评提醒
  bool answerBadFirst = false;                // 回评方式=先差评

  // The comment file's; empty when there is none.
  const std::string& FirstComment() const;
};

// The start-up record's standing comment, lead time and reload interval, and
// the seller's other settings from its Config.ini.
struct AppSession;
RunSettings CurrentRunSettings(const AppSession& session);
CommentUse ParseCommentUse(const std::string& text);

// Stores what the seller set for their account (the comment file, Config.ini
// in the data directory `dir`)
// and hands it to `run` (may be null), which uses it from its next step on. Every
// comment is checked first: nothing is written when one cannot be sent or
// stored. False, with why in *problem (the seller's words), when something
// was not saved; what was written still counts.
class SellerRun;
bool SaveRunSettings(const std::string& dir, const std::string& nick, SellerRun* run, const RunSettings& settings, std::string* problem);
const char* CommentUseText(CommentUse use);  // the Config.ini value; "" for the first only

}  // namespace qm
