// markup: escaping of input text for the SVG profile and the HTML report.
#include "markup.h"

#include <charconv>
#include <cstdint>

namespace velcorin2 {

namespace {

// utf8_length: the length of the well-formed UTF-8 character at the start
// of `s` that XML allows, 0 when there is none.
size_t utf8_length(std::string_view s)
{
    const auto b = [&](size_t i) { return (unsigned char)s[i]; };
    const unsigned char c = b(0);
    size_t n;
    uint32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; i++) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(i) & 0x3F);
    }
    // Overlong forms, surrogates, code points past U+10FFFF, C1 controls,
    // the two non-characters XML forbids, and the direction marks and
    // overrides, which would turn the text after them around unseen.
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || cp < 0xA0 || cp == 0xFFFE || cp == 0xFFFF)
        return 0;
    if (cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) return 0;
    return n;
}

}  // namespace

void append_markup_text(std::string &out, std::string_view s, size_t max_chars)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t shown = 0;
    for (size_t i = 0; i < s.size(); shown++) {
        if (shown == max_chars) {
            out += "...";
            return;
        }
        const unsigned char c = (unsigned char)s[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\t': out += ' '; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += char(c);
            } else if (const size_t n = c < 0x80 ? 0 : utf8_length(s.substr(i)); n > 0) {
                out.append(s.substr(i, n));
                i += n;
                continue;
            } else {
                const char e[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
                out.append(e, 4);
            }
        }
        i++;
    }
}

void append_fixed(std::string &out, double v, int precision)
{
    char b[400];  // room for the widest double in fixed notation
    out.append(b, size_t(std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, precision).ptr - b));
}

void append_general(std::string &out, double v, int precision)
{
    char b[64];
    out.append(b, size_t(std::to_chars(b, b + sizeof b, v, std::chars_format::general, precision).ptr - b));
}

void append_data_uri(std::string &out, std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    static constexpr auto kept = [] {
        struct Set {
            bool keep[256] = {};
        } t;
        for (int c = '0'; c <= '9'; c++) t.keep[c] = true;
        for (int c = 'a'; c <= 'z'; c++) t.keep[c] = t.keep[c - 'a' + 'A'] = true;
        for (unsigned char c : std::string_view("-._~/=:;,()!* ")) t.keep[c] = true;
        return t;
    }();
    const size_t at = out.size();
    out.resize(at + 3 * bytes.size());
    char *w = out.data() + at;
    for (unsigned char c : bytes) {
        if (c == '"') {
            *w++ = '\'';  // one byte, not three: an attribute quote of the SVG, which escapes those in text
        } else if (kept.keep[c]) {
            *w++ = char(c);
        } else {
            *w++ = '%';
            *w++ = hex[c >> 4];
            *w++ = hex[c & 15];
        }
    }
    out.resize(size_t(w - out.data()));
}

}  // namespace velcorin2
