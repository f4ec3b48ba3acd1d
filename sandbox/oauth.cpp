#include "context.h"
namespace qm::sandbox {
void RegisterOAuth(httplib::Server&, Context&) {}
}  // namespace qm::sandbox
