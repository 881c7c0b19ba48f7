// One option syntax for both programs: getopt_long's, and its misuse put in words.
#pragma once

#include <getopt.h>

#include <string>
#include <utility>
#include <vector>

namespace Leap {

// The options read, in order: each one's `val` from the table and its value (null without one).
using OptionsRead = std::vector<std::pair<int, const char*>>;

// Reads the whole command line as getopt_long does: `shortOptions` ("hV") and the table (ended by
// a zero entry), "--option=value" and "--option value" alike, "--" ending the options; the
// operands go to `operands`. On misuse, false, and `error` names the option ("unknown option --x",
// "--port needs a value", "--help takes no value").
bool readCommandLine(int argc, char** argv, const char* shortOptions, const option* options,
                     OptionsRead& read, std::vector<const char*>& operands, std::string& error);

}  // namespace Leap
