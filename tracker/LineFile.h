// A replayed file, read a line at a time as it plays, with the guards such a file needs: a
// regular file (a pipe would block, /dev/zero never ends a line) of at most 1 GiB, lines of at
// most 64 KiB; an editor's byte-order mark is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Leap {

class LineFile {
public:
    LineFile() = default;
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // False with `error` set ("cannot be opened: ...").
    bool open(const std::string& path, std::string& error);

    enum class Read { line, end, failed };
    // The next line, without its '\n' and valid until the next call; `error` names the line.
    Read next(std::string_view& line, std::string& error);
    int number() const { return number_; }
    uint64_t consumed() const { return consumed_; }  // bytes

private:
    int fd_ = -1;
    std::string buffer_;  // [begin_, end) not yet handed out
    size_t begin_ = 0;
    bool atEnd_ = false;
    int number_ = 0;
    uint64_t consumed_ = 0;
};

}  // namespace Leap
