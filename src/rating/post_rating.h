#pragma once
// The one rating call of the program: the seller's rating of one order's buyer,
// posted as a form to the marketplace's API test tool, which performs
// "taobao.traderate.list.add" with the key, secret and session key given in
// the form. Every rating (automatic or by hand, good or bad) goes through here.
#include <string>

#include "platform/reply.h"
#include "settings/app_session.h"

namespace qm {

inline constexpr const char* kRatingPath = "/apitools/getResult.do";
inline constexpr const char* kResultGood = "good";
inline constexpr const char* kResultBad = "bad";
inline constexpr const char* kRoleSeller = "seller";
// The sub_code of the refusal of an order the seller has rated already.
inline constexpr const char* kRatedAlreadyCode = "isv.trade-rate-exist";

// The form body for one rating, literal by literal. Only the comment is
// encoded (UTF-8, percent-encoded); every other value is inserted as it is.
std::string BuildRatingForm(const std::string& appKey, const std::string& appSecret,
                            const std::string& tid, const std::string& result,
                            const std::string& role, const std::string& comment,
                            const std::string& sessionKey);

// Posts the rating with the account's credentials to its
// endpoints.apitools + kRatingPath and waits for the reply (on the
// run's worker: the UI thread never calls it). True only when the reply is
// the rating method's whole answer, holds no error element (whole or cut
// off) and its "<tid>" holds exactly this order number (blanks and line
// breaks around it aside). An order number that is empty or
// not all decimal digits is refused (false, nothing sent): an empty one would
// match a reply without "<tid>", and one holding '&' or '=' would rewrite the
// form. Once a stop is requested (util/stop.h) nothing is sent: false. The
// run's ledger keeps one order from being posted twice at once.
bool post_rating(const Account& account, const std::string& tid, const std::string& result, const std::string& role,
                 const std::string& comment);

// What one post came to. A lost reply is not a refusal: the platform may well
// have recorded the rating before the answer went missing.
enum class RatingOutcome {
  Rated,    // the rating method's whole answer, no error in it, its "<tid>" this order
  Refused,  // a complete error reply, or nothing sent for a text that is no order number
  AlreadyRated,  // a complete error reply saying the order holds the seller's rating already
  Unknown,  // no readable answer: nothing back, time-out, a cut-off (even of an error) or garbled body
  Busy,     // the program is stopping; nothing sent
};

// post_rating with the whole answer; for a refusal the platform's message
// ("msg" and "sub_msg" of its error reply) goes to *refusal, for
// AlreadyRated too.
RatingOutcome PostRating(const std::string& tid, const std::string& result, const std::string& role,
                         const std::string& comment, std::string* refusal, const Account& account);

// Whether the seller's own rating of the order is on the platform
// ("taobao.traderates.get", rate_type "give", role "seller").
enum class SellerRatingCheck {
  Exists,   // the platform lists the seller's rating of this order
  Missing,  // a complete answer without it
  Unknown,  // no complete answer (or an error reply): ask again later
};
SellerRatingCheck CheckSellerRating(const std::string& tid, const Account& account);



// True when `tid` is a non-empty text of decimal digits.
bool IsOrderNumber(const std::string& tid);

}  // namespace qm
