#pragma once
// Building and signing the gateway's requests. Every gateway call is a plain
// HTTP GET to the account's endpoints.gateway + "/router/rest?sign=..." whose query
// carries the call's parameters and an MD5 signature over the application
// secret followed by every parameter name and value in ascending name order.
// Credentials come from the Account the caller passes (key, secret, session key).
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_time.h"
#include "settings/app_session.h"

namespace qm {

// The (key, value) pairs of one gateway call, without "sign".
using RequestParams = std::vector<std::pair<std::string, std::string>>;

// The platform's time now as it writes it (Beijing time, "YYYY-MM-DD hh:mm:ss").
std::string make_timestamp(const PlatformClock& clock);

// The 32-character upper-case hexadecimal MD5 of AppSecret + k1 v1 k2 v2 ...
// (keys sorted ascending by bytes).
std::string sign_request(const RequestParams& params, const std::string& secret);

// The common parameters of a gateway call for the account (app_key, format,
// method, partner_id, session, timestamp, v) with the method's own parameters
// appended.
RequestParams GatewayParams(const Account& account, const std::string& method, const std::string& timestamp,
                            const RequestParams& own = {});
// The complete signed URL of a call whose params came from GatewayParams: the
// fixed pieces in the gateway's order, then the method's own parameters in the
// order given.
std::string build_gateway_url(const Account& account, const RequestParams& params);

// Ready-made URLs of the four gateway methods, each with its own timestamp,
// for the account given.
std::string TimeGetUrl(const Account& account);
std::string SellerGetUrl(const Account& account);
std::string TradeRatesGetUrl(const std::string& tid, const Account& account);
// The same call with its own rate type ("get", "give"), role ("buyer",
// "seller") and fields; the one above is ("get", "buyer", "tid,content,result").
std::string TradeRatesGetUrl(const std::string& tid, const std::string& rateType, const std::string& role,
                             const std::string& fields, const Account& account);
// One page of finished trades with the given rate status ("RATE_UNBUYER",
// "RATE_UNSELLER", "RATE_BUYER_UNSELLER"); page numbers start at 1.
std::string TradesSoldGetUrl(const std::string& rateStatus, int pageNo, const std::string& fields,
                             const Account& account);

}  // namespace qm
