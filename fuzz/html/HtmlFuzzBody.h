#pragma once
// The HTML layer's fuzz body, shared by the libFuzzer target and the regular test run.

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace sondrel::fuzz {

// Input: a first line "tag attribute value" (space separated, any part may be empty)
// followed by the page. The page is parsed from text and from bytes; every node
// operation runs on a bounded number of nodes, and the searches use the first line.
int fuzzHtmlLayer(const std::uint8_t* data, std::size_t size);

// Runs every node operation over a whole page (used on real pages by the tests).
// Returns the number of nodes visited.
int exerciseHtmlPage(const QByteArray& page, const QByteArray& tag, const QByteArray& attribute,
                     const QByteArray& value, int nodeBudget);

} // namespace sondrel::fuzz
