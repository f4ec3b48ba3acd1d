#pragma once
// Writes the demo seller's credentials into a Config.ini for Quillmere: the
// section named after the seller (GBK on disk, like the rest of that file)
// with the keys appkey, AppSecret and SessionKey. Other sections, comments
// and the file's line breaks are kept; the file is replaced atomically.
#include <string>

#include "market.h"

namespace qm::sandbox {

bool WriteSellerConfig(const std::string& path, const Seller& seller, std::string* error);

}  // namespace qm::sandbox
