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
// U+FFFE, U+FFFF), and every direction mark or override, is shown as the
// text "\xHH" per byte, so nothing in a title can become markup, turn the
// text around, or go unseen.  At most `max_chars` characters
// are shown (each "\xHH" counts as one), then "...".
void append_markup_text(std::string &out, std::string_view s, size_t max_chars = std::string_view::npos);

// append_data_uri: `bytes`, an XML document whose text and attribute values
// hold no raw quote (append_markup_text), as the body of a data: URI inside
// a double-quoted HTML attribute: its attribute quotes " become ', and every
// byte but ASCII letters, digits, -._~ /=:;,()!* and blanks is written as
// %XX, so line ends, "#", "&" and "<" survive both the HTML and the URI
// parser and the page holds no markup inside the attribute.
void append_data_uri(std::string &out, std::string_view bytes);

// append_fixed, append_general: `v` exactly as printf's "%.<precision>f"
// and "%.<precision>g" write it (std::to_chars, which is several times
// faster: the summary and the profiles write numbers by the hundred thousand).
void append_fixed(std::string &out, double v, int precision);
void append_general(std::string &out, double v, int precision);

}  // namespace velcorin2
