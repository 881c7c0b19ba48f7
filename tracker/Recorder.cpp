// A failure stops the recording with one console line; the run goes on.
#include "Recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Source.h"

namespace Leap {

Recorder::Recorder(const char* path) {
    if (!path || !*path) return;
    path_ = path;
    // Non-blocking: a named pipe nobody reads must not stall the frame.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    file_ = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!file_) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        stop(std::strerror(error));
    }
}

Recorder::~Recorder() {
    if (file_) std::fclose(file_);
}

void Recorder::write(std::string_view message) {
    if (!file_) return;
    line_.assign(message);
    for (char& c : line_)
        if (c == '\n' || c == '\r') c = ' ';
    line_ += '\n';
    // Flushed per frame: a run that is killed keeps what it saw.
    if (std::fwrite(line_.data(), 1, line_.size(), file_) != line_.size() || std::fflush(file_) != 0)
        stop(std::strerror(errno));
}

void Recorder::stop(const std::string& why) {
    printConsoleLine("cannot record to " + path_ + ": " + why + "; recording stopped");
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace Leap
