#pragma once
// The automatic pass over the both-unrated list, from the last row to the
// first: due orders are rated "good" with the standing comment, the others
// show the time left. While the last refresh's buyer-rated listing was
// incomplete, the buyer's rating of each due order is asked just before its
// post: an order its buyer has rated moves to the buyer-rated list instead,
// and one whose question got no answer waits for a later pass.
namespace qm {

class SellerRun;

// One pass; how many orders it rated.
int RateDueOrders(SellerRun& run, bool buyerRatedListComplete);

}  // namespace qm
