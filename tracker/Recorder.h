// HANDVIEW_RECORD: the live frame messages, one per line, as the shared recordings are kept.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace Leap {

class Recorder {
public:
    explicit Recorder(const char* path);  // null or empty: records nothing; starts the file afresh
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void write(std::string_view message);

private:
    void stop(const std::string& why);

    std::string path_;
    std::FILE* file_ = nullptr;
    std::string line_;
};

}  // namespace Leap
