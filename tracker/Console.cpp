// Console lines, and the escaping that keeps text from outside on one harmless line.
#include "tracker/Console.h"

#include <cstdio>

namespace Leap {

namespace {

// Length of the UTF-8 sequence of a printable character at text[i]; 0 for anything else.
size_t printableLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return c >= 0x20 && c != 0x7f ? 1 : 0;
    const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    return c == 0xC2 && byte(1) < 0xA0 ? 0 : n;  // U+0080..U+009F are controls too
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
        if (const size_t n = printableLength(text, i)) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i++]));
            out += escaped;
        }
    }
    return i < text.size() ? out + "..." : out;
}

}  // namespace Leap
