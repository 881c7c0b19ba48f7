// Console lines, and the escaping that keeps text from outside on one harmless line.
#include "tracker/Console.h"

#include <cstdint>
#include <cstdio>

namespace Leap {

namespace {

// The code point of the well-formed UTF-8 sequence at text[i], and its length in `n`; n is 0 for
// anything else: a stray or missing continuation byte, an overlong form, a surrogate, past U+10FFFF.
uint32_t decode(std::string_view text, size_t i, size_t& n) {
    const auto c = static_cast<unsigned char>(text[i]);
    n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return n = 0;
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return n = 0;
        code = code << 6 | (b & 0x3F);
    }
    constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // below these, a shorter form exists
    if (code < kLeast[n] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) n = 0;
    return code;
}

// C0 and C1 controls drive the terminal; the bidirectional controls reorder what the user reads.
bool isControl(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

void printConsoleLine(const std::string& text) {
    std::fprintf(stderr, "handview: %s\n", printable(text, kWholeLine).c_str());
    std::fflush(stderr);
}

std::string printable(std::string_view text, size_t most) {
    std::string out;
    size_t i = 0;
    while (i < text.size() && out.size() < most) {
        size_t n = 0;
        const uint32_t code = decode(text, i, n);
        char escaped[16];
        if (n > 0 && !isControl(code)) {
            out.append(text.substr(i, n));
        } else if (code > 0x9F && n > 0) {
            std::snprintf(escaped, sizeof escaped, "\\u{%X}", static_cast<unsigned>(code));
            out += escaped;
        } else {  // a control of the C0 or C1 block, or a byte that is no character: byte by byte
            for (size_t k = 0; k < (n > 0 ? n : 1); ++k) {
                std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i + k]));
                out += escaped;
            }
        }
        i += n > 0 ? n : 1;
    }
    return i < text.size() ? out + "..." : out;
}

}  // namespace Leap
