// Console lines on standard error, "handview: " first, and text from outside made fit for them.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace Leap {

// Prefixes "handview: " and ends the line; the text is made printable() whole, so that a name from
// outside in it cannot break the line or drive the terminal.
void printConsoleLine(const std::string& text);

// Text from a stream or a file as a console line may show it: on one line, well-formed UTF-8 only,
// every other byte and the C0 and C1 controls as \xNN, the bidirectional controls as \u{202E}, cut
// after `most` bytes with "...", so it can neither drive the terminal nor reorder the line.
std::string printable(std::string_view text, size_t most = 80);
// As much as a line takes: a path name of the longest kind, each byte escaped.
constexpr size_t kWholeLine = 4 * 4096;

// One line per kind of problem until a good frame re-arms them, and never more than kMaxPerKind
// of a kind, so a flapping stream cannot flood. `print` writes a line (another program's prefix).
template <int Kinds>
class ConsoleLines {
public:
    explicit ConsoleLines(void (*print)(const std::string&) = printConsoleLine) : print_(print) {}

    // True when the line was printed.
    bool say(int kind, const std::string& text) {
        if (quiet_[kind] || said_[kind] >= kMaxPerKind) return false;
        quiet_[kind] = true;
        ++said_[kind];
        print_(said_[kind] < kMaxPerKind ? text : text + " (no more lines of this kind)");
        return true;
    }
    void rearm() { quiet_.fill(false); }
    void rearm(int kind) { quiet_[kind] = false; }

private:
    static constexpr int kMaxPerKind = 5;
    void (*print_)(const std::string&);
    std::array<bool, Kinds> quiet_{};
    std::array<int, Kinds> said_{};
};

}  // namespace Leap
