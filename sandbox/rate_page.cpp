#include "context.h"
namespace qm::sandbox {
void RegisterRatePage(httplib::Server&, Context&) {}
}  // namespace qm::sandbox
