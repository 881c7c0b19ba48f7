// The viewer's command line.
#pragma once

#include <string>

#include "render/MeshParts.h"

extern const char* const kUsage;

struct Options {
    bool help = false;
    bool version = false;
    const char* model = nullptr;
    int windowWidth = 0;  // 0: full screen
    int windowHeight = 0;
    ModelUp up = ModelUp::Declared;
    const char* webcam = nullptr;  // --webcam's value: "0" without one
    const char* hud = nullptr;     // --hud's value: "on" without one; null when not given
    std::string error;             // a usage error, naming the option
};

Options parseOptions(int argc, char** argv);
