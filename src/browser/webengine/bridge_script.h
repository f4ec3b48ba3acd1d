#pragma once
// The script the bridge puts into every page: the registry of page objects
// and the members of the old browser's document model that Chromium lacks.

namespace qm {

const char* BridgeScriptSource();

}  // namespace qm
