#pragma once
// Small helpers for the HTML pages the service shows.

#include <string>
#include <string_view>

namespace standin {

std::string htmlEscape(std::string_view text);

// A complete UTF-8 page with the given title and body markup.
std::string htmlPage(std::string_view title, std::string_view bodyMarkup);

// The reason phrase of an HTTP status ("Not Found").
const char* statusReason(int status);

} // namespace standin
