// Recordings of the service's stream (HANDVIEW_RECORD writes them, HANDVIEW_REPLAY plays them):
// one message per line, verbatim. A recording holds the service's greeting, device events and
// frames, so one that spans a reconnection replays every connection; the shared recordings
// hold frames only.
#pragma once

#include <string>
#include <string_view>

#include "tracker/ReplayFormat.h"

namespace Leap {

// Never blocks and never tears a line: a line the target cannot take whole now is finished
// later, and frames that come meanwhile are skipped and counted. A failure stops the recording
// with one console line; the run goes on.
class Recorder {
public:
    explicit Recorder(const char* path);  // null or empty: records nothing; starts the file afresh
    ~Recorder();                          // says how many frames were skipped
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void write(std::string_view message);

private:
    bool flush();  // false while part of a line is still waiting
    void stop(const std::string& why);

    std::string path_;
    int fd_ = -1;
    bool regular_ = false;
    std::string waiting_;   // the unwritten end of the last line
    size_t lineBytes_ = 0;  // the whole of that line
    long skipped_ = 0;
};

// Frames replay at their device timestamps. A greeting, or a jump forward by more than a real
// stream makes, starts a new time base right after the frame before; a frame not after the one
// before, or a line that is no message, is skipped and counted.
std::unique_ptr<ReplayFormat> makeRecordingReader();

}  // namespace Leap
