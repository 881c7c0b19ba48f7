// A replayed file as steps on the replay's clock: frames, and the device coming and going. A
// format reads the file a line at a time, so a replay holds no more than the steps ahead of now.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Leap.h"

namespace Leap {

struct ReplayStep {
    int64_t atMs = 0;         // on the replay's clock
    Frame frame;              // invalid: a device event
    bool deviceReady = true;  // a device event: attached and streaming
};

class ReplayFormat {
public:
    virtual ~ReplayFormat() = default;
    // Appends the steps this line completes, in time order; false with `error` set when the file
    // cannot go on.
    virtual bool readLine(std::string_view line, int number, std::vector<ReplayStep>& out,
                          std::string& error) = 0;
    // At the end of the file: appends what is left and sets the replay's end on its clock; false
    // with `error` set when the file held nothing to replay. `warning` tells of skipped lines.
    virtual bool finish(std::vector<ReplayStep>& out, int64_t& endMs, std::string& error,
                        std::string& warning) = 0;
};

}  // namespace Leap
