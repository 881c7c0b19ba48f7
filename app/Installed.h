// Where an installed tree keeps the programs' data: found from the running executable, never by an
// absolute path, so a build tree's program never picks up a copy installed elsewhere on the machine.
#pragma once

#include <string>

// The executable's directory, with a trailing slash; empty when it cannot be read.
std::string executableDirectory();
// `<executable's directory>/../share/handview/`; empty when the executable's place is unknown.
std::string installedDataDirectory();
