// markup: text of any bytes made safe for the SVG profile and the HTML
// report, which both show codes and titles as they came in the input.
#pragma once

#include <string>
#include <string_view>

namespace velcorin2 {

// append_markup_text: `s` as XML or HTML character data, also fit for an
// attribute in double quotes.  & < > " ' become references; well-formed
// UTF-8 stays as it is; every byte that is not, and every character XML
// does not allow (C0 and C1 controls but tab, which becomes a blank,
// U+FFFE, U+FFFF), is shown as the text "\xHH", so nothing in a title can
// become markup and no byte goes unseen.  At most `max_chars` characters
// are shown (each "\xHH" counts as one), then "...".
void append_markup_text(std::string &out, std::string_view s, size_t max_chars = std::string_view::npos);

// append_data_uri: `bytes` as the body of a data: URI inside a double-quoted
// HTML attribute: every byte but ASCII letters, digits and -._~ /=:;,()!*
// and blanks is written as %XX, so line ends, quotes, "#", "&" and "<"
// survive both the HTML and the URI parser.
void append_data_uri(std::string &out, std::string_view bytes);

}  // namespace velcorin2
