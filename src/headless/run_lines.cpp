#include "headless/run_lines.h"

#include <cmath>
#include <cstdint>

#include "headless/output.h"
#include "headless/runner.h"
#include "platform/platform_time.h"
#include "rating/run_texts.h"
#include "rating/schedule.h"

namespace qm {

RunLines::RunLines(const PlatformClock& clock, bool once, std::function<void(const std::string&)> print)
    : clock_(clock), once_(once), print_(std::move(print)) {}

void RunLines::Print(const std::string& line) const {
  if (print_) {
    print_(line);
  } else {
    PrintLine(line);
  }
}

void RunLines::LoadProgress(int tradesRead) { Print("status: " + LoadingText(tradesRead)); }

void RunLines::ReloadStarted(ReloadReason why, int intervalMinutes) {
  const std::string every = " (every " + std::to_string(intervalMinutes) + " minutes)";
  switch (why) {
    case ReloadReason::Interval: Print("reload: loading the unrated orders again" + every); break;
    case ReloadReason::Changes: Print("reload: loading the orders changed since the last load" + every); break;
    case ReloadReason::Daily: Print("reload: loading the unrated orders again in full (once a day)"); break;
    case ReloadReason::AfterIncomplete:
      Print("reload: the last load did not complete; loading the unrated orders again");
      break;
  }
}

void RunLines::LoadReported(const LoadReport& report) {
  if (const std::string status = LoadStatusText(report, clock_.Now()); !status.empty()) Print("status: " + status);
  if (report.kind == LoadKind::Reload) {
    std::string line = "reload: added=" + std::to_string(report.added) + " dropped=" + std::to_string(report.dropped);
    if (report.keptNotListed > 0)
      line += "; kept " + std::to_string(report.keptNotListed) + " the listing did not bring (not proven rated)";
    if (!report.databaseOk) {
      line += "; the order database cannot be used: " + report.error;
    } else if (!report.problem.empty()) {
      line += "; incomplete at " + report.problem + ", loading again within ten minutes";
    }
    Print(line);
    return;
  }
  if (!report.databaseOk && !loaded_) {
    Print("start: the order database cannot be used: " + report.error);
    if (end) end(kExitDatabase);
    return;
  }
  loaded_ = true;
  completed_ = report.Completed();
  if (!report.problem.empty())
    Print("load: incomplete at " + report.problem + (once_ ? "" : "; loading again within ten minutes"));
  Print("orders loaded: unrated=" + std::to_string(report.unrated));
}

void RunLines::Started() {
  if (!once_ || !end) return;
  end(platformDown_ ? kExitPlatformDown : completed_ ? kExitOk : kExitDatabase);
}

void RunLines::RefreshReported(const RefreshReport& report) {
  if (!report.listing.Complete() && report.changesOnly)
    Print("refresh: the look at the buyers' ratings did not complete; nothing is rated automatically until a "
          "complete one, and the next refresh lists the buyer-rated orders in full");
  else if (!report.listing.Complete())
    Print("refresh: the buyer-rated listing is incomplete at " + ListingProblem(kRateBuyerUnseller, report.listing) +
          "; nothing is rated automatically until a complete look at the buyers' ratings");
  platformDown_ = !report.platformUp;
  if (!report.platformUp) {
    Print("refresh: the platform did not answer taobao.time.get; asking again at the next refresh");
    return;
  }
  Print("refresh: buyer-rated=" + std::to_string(report.buyerRated) + " unrated=" + std::to_string(report.unrated) +
            " platform=ok requests-today=" + std::to_string(report.requestsToday));
}

void RunLines::PassRated(const PassRating& rating) {
  const RatingAttempt& attempt = rating.attempt;
  const std::string head = "rating order=" + rating.order.tid + " buyer=" + rating.order.buyerNick;
  const std::string next = FormatPlatformTime(static_cast<std::int64_t>(std::ceil(attempt.nextTry)));
  switch (attempt.verdict) {
    case LedgerVerdict::Rated:
    case LedgerVerdict::Confirmed:
      Print(head + " result=good outcome=" + (attempt.verdict == LedgerVerdict::Rated ? "rated" : "confirmed") +
                (attempt.verdict == LedgerVerdict::Confirmed ? " (already rated on the platform)" : "") +
                (!rating.removed ? " (row already removed)" : ""));
      break;
    case LedgerVerdict::AlreadyRated:
      Print(head + " result=good outcome=already-rated (the platform holds a rating of it; removed as rated)" +
            (!rating.removed ? " (row already removed)" : ""));
      break;
    case LedgerVerdict::Refused: Print(head + " result=good outcome=refused; next try at " + next); break;
    case LedgerVerdict::Unknown:
      Print(head + " result=good outcome=unknown (no readable reply); asking the platform at " + next +
                " before any new post");
      break;
    case LedgerVerdict::CheckUnanswered: Print(head + " check=unanswered; asking again at " + next); break;
    case LedgerVerdict::Waiting:
      if (attempt.firstWait)
        Print(head + " skipped: waiting until " + next +
                  (attempt.awaitsCheck ? " to ask the platform" : " after a refusal"));
      break;
    case LedgerVerdict::Busy: break;
    case LedgerVerdict::NotLogged:
      Print("status: 评价记录无法写入，评价暂缓：" + attempt.problem);
      Print(head + " not posted: the rating log cannot be written (" + attempt.problem +
            "); trying again at a later pass");
      break;
  }
}

void RunLines::KeepListUnusable(const std::string& problem, bool first) {
  if (!first) return;
  Print("pass: stopped: the keep list cannot be used: " + problem +
        "; nothing is rated automatically until it reads again");
}

void RunLines::MovedToBuyerRated(const Order& order, const std::string& result) {
  Print("rating order=" + order.tid + " buyer=" + order.buyerNick + " skipped: the buyer has rated (result=" +
            result + "); moved to the buyer-rated list");
}

void RunLines::Settled(const std::string& tid, bool rated) {
  Print("rating-log: order=" + tid +
            (rated ? " settled=rated (the platform holds the rating)" : " settled=not taken"));
}

void RunLines::Alert(const Order& order, const BuyerVerdict& verdict) {
  Print("alert: order=" + order.tid + " buyer=" + order.buyerNick + " result=" + verdict.result +
            " comment=" + (verdict.comment.empty() ? std::string(kNoBuyerComment) : verdict.comment));
  if (alerted) alerted(order, verdict);
}

void RunLines::PlatformUnreachable() {
  Print(std::string("message: ") + kPlatformDownTitle + ": " + kPlatformDownText);
}

void RunLines::NewsOld() {
  Print("refresh: the buyer-rated list is out of date (the process was stopped, the machine slept or its clock "
        "was set); renewing it before the next rating");
}

void RunLines::PlatformBack() { Print(std::string("platform: answering again; ") + kPlatformBackText); }

void RunLines::CallLimited(const CallLimitWait& wait) {
  const std::string until = FormatPlatformTime(static_cast<std::int64_t>(std::ceil(wait.until)));
  const std::string seconds = std::to_string(std::llround(wait.seconds));
  if (wait.daily) {
    Print("quota: the application's calls of the day are used up (at " + wait.method + "); waiting " + seconds +
          " s, until " + until);
  } else {
    Print("quota: the platform banned " + wait.method + " for a while; waiting " + seconds + " s, until " + until);
  }
  Print("status: " + CallLimitText(wait));
}

}  // namespace qm
