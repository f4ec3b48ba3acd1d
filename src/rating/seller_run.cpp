#include "rating/seller_run.h"

#include "platform/platform_link.h"
#include "settings/app_session.h"
#include "rating/run_worker.h"
#include "util/event_pump.h"

namespace qm {

std::unique_ptr<SellerRun> SellerRun::Open(const Account& account, const RunSettings& settings, const RunPorts& ports,
                                           RunObserver& observer, std::string* error) {
  if (ports.pump == nullptr) {
    if (error) *error = "no event pump";
    return nullptr;
  }
  std::unique_ptr<SellerRun> run(new SellerRun(account, settings, ports, observer));
  if (!run->log_.Open(account.PathOf(RatingLogFileName(account.sellerNick)), false, error)) return nullptr;
  run->alerts_.Load();
  run->HearCallLimits();
  return run;
}

SellerRun::SellerRun(const Account& account, const RunSettings& settings, const RunPorts& ports,
                     RunObserver& observer)
    : ports_(ports),
      observer_(observer),
      account_(account),
      settings_(settings),
      limits_(LimitsOf(account_)),
      commentDraw_(std::random_device{}()),
      log_(ClockOf(account)),
      alerts_(log_),
      ledger_(log_, worker_, account_),
      keep_(KeepListPath(account.dataDir, account.sellerNick), ClockOf(account)),
      loader_(
          book_, *ports.pump, account_, ports.pageRetryPausesMs, [this](const LoadReport& report) { scheduler_.OnLoadDone(report); },
          [this](int read) { observer_.LoadProgress(read); }),
      scheduler_(*this),
      worker_(*ports.pump) {}

std::string SellerRun::NextComment() {
  const std::vector<std::string>& comments = settings_.comments;
  if (comments.empty()) return {};
  switch (settings_.commentUse) {
    case CommentUse::InTurn: return comments[commentTurn_++ % comments.size()];
    case CommentUse::AtRandom:
      return comments[std::uniform_int_distribution<std::size_t>(0, comments.size() - 1)(commentDraw_)];
    case CommentUse::FirstOnly: break;
  }
  return comments.front();
}

void SellerRun::HearCallLimits() {
  limits_->Listen([alive = alive_, pump = ports_.pump, observer = &observer_](const CallLimitWait& wait) {
    pump->Post([alive, observer, wait] {
      if (*alive) observer->CallLimited(wait);
    });
  });
  // The requests of a burst (a load's pages) are written together, once the UI thread gets to them.
  limits_->OnCounted([alive = alive_, pump = ports_.pump, this] {
    pump->Post([alive, this] {
      if (*alive) RecordRequests();
    });
  });
  RecordRequests();
}

void SellerRun::RecordRequests() {
  for (const auto& [day, count] : limits_->TakeCounted()) unrecorded_[day] += count;
  // Counts that cannot be written now are tried again with the next ones.
  if (log_.AddRequests(unrecorded_)) unrecorded_.clear();
}

SellerRun::~SellerRun() {
  scheduler_.End();
  *alive_ = false;
  // A call waiting out a limit ends now, so that the workers can end.
  limits_->Listen({});
  limits_->OnCounted({});
  limits_->EndWaits();
  RecordRequests();
  // The members go in reverse: first the run's worker (after the job in
  // hand; no report of it runs from here on), the scheduler, then the loader
  // (which waits for its worker), the keep list, the ledger, the alerts, the log and the book.
}

}  // namespace qm
