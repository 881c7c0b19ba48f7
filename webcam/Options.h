// handview-camera's command line.
#pragma once

#include <string>

#include "tracker/Protocol.h"
#include "webcam/HandReader.h"

namespace webcam {

extern const char* const kUsage;

struct Options {
    int camera = 0;
    const char* video = nullptr;
    int port = Leap::kServicePort;  // where the viewer looks for a tracking service
    bool toStdout = false;
    bool preview = false;
    bool fixedRest = false;
    bool help = false;
    bool version = false;
    HandModels models;
    std::string error;  // a usage error, naming the option
};

Options parseOptions(int argc, char** argv);

}  // namespace webcam
