// Reading in chunks keeps memory to one line and one chunk, however long the file.
#include "tracker/LineFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Leap {

namespace {

constexpr size_t kMaxLineBytes = 64 * 1024;
constexpr size_t kChunkBytes = 64 * 1024;
constexpr off_t kMaxFileBytes = off_t(1) << 30;

bool usable(const struct stat& st, std::string& error) {
    if (S_ISDIR(st.st_mode))
        error = "cannot be opened: it is a directory";
    else if (!S_ISREG(st.st_mode))
        error = "cannot be opened: it is not a regular file";
    else if (st.st_size > kMaxFileBytes)
        error = "cannot be opened: it is larger than 1 GiB";
    return error.empty();
}

}  // namespace

LineFile::~LineFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool LineFile::open(const std::string& path, std::string& error) {
    struct stat st;
    // Checked before opening too: opening some devices does something.
    if (::stat(path.c_str(), &st) == 0 && !usable(st, error)) return false;
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    return usable(st, error);
}

LineFile::Read LineFile::next(std::string_view& line, std::string& error) {
    const auto failed = [&](const std::string& why) {
        error = "line " + std::to_string(number_ + 1) + ": " + why;
        return Read::failed;
    };
    for (;;) {
        const size_t newline = buffer_.find('\n', begin_);
        if (newline != std::string::npos || (atEnd_ && begin_ < buffer_.size())) {
            const size_t end = newline == std::string::npos ? buffer_.size() : newline;
            line = std::string_view(buffer_).substr(begin_, end - begin_);
            if (line.size() > kMaxLineBytes) return failed("longer than 64 KiB");
            consumed_ += end + 1 - begin_;
            begin_ = end + 1;
            if (++number_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
            return Read::line;
        }
        if (atEnd_) return Read::end;
        if (buffer_.size() - begin_ > kMaxLineBytes) return failed("longer than 64 KiB");
        buffer_.erase(0, begin_);
        begin_ = 0;
        const size_t had = buffer_.size();
        buffer_.resize(had + kChunkBytes);
        const ssize_t got = ::read(fd_, &buffer_[had], kChunkBytes);
        if (got < 0 && errno != EINTR) return failed(std::string("read error: ") + std::strerror(errno));
        buffer_.resize(had + static_cast<size_t>(got > 0 ? got : 0));
        atEnd_ = got == 0;
    }
}

}  // namespace Leap
