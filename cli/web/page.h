// The front panel: one page, its script and its style, served by tovrikctl itself (a lab
// bench may have no network to fetch anything from).
#pragma once

#include <string>
#include <string_view>

namespace tovrik::cli::web {

// The page in Japanese, as the control application's texts, or in English.
std::string PageHtml(bool english);
std::string_view PageScript();
std::string_view PageStyle();

}  // namespace tovrik::cli::web
