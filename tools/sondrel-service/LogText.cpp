#include "LogText.h"

#include <algorithm>
#include <cctype>

namespace standin {
namespace {

bool endsTokenValue(char c, bool encoded) {
    return std::string_view("&#\"'<>()[]").find(c) != std::string_view::npos ||
           std::isspace(static_cast<unsigned char>(c)) != 0 || (encoded && c == '%');
}

// Where `mark` next occurs in `text` from `from` on, ignoring letter case.
std::size_t findMark(const std::string& text, std::string_view mark, std::size_t from) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    const auto it = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                mark.begin(), mark.end(), same);
    return it == text.end() ? std::string::npos : static_cast<std::size_t>(it - text.begin());
}

} // namespace

std::string hideAccessTokens(std::string_view input) {
    static constexpr std::string_view kHidden = "<hidden>";
    std::string text(input);
    for (const auto& [mark, encoded] :
         {std::pair<std::string_view, bool>{"access_token=", false}, {"access_token%3D", true}}) {
        std::size_t from = 0;
        while ((from = findMark(text, mark, from)) != std::string::npos) {
            const std::size_t start = from + mark.size();
            std::size_t end = start;
            while (end < text.size() && !endsTokenValue(text[end], encoded)) {
                ++end;
            }
            if (end > start) {
                text.replace(start, end - start, kHidden);
            }
            from = start + (end > start ? kHidden.size() : 0);
        }
    }
    return text;
}

} // namespace standin
