// getopt_long keeps its place in globals; each reading starts it afresh.
#include "tracker/CommandLine.h"

#include <cstring>

#include "tracker/Console.h"

namespace Leap {

bool readCommandLine(int argc, char** argv, const char* shortOptions, const option* options,
                     OptionsRead& read, std::vector<const char*>& operands, std::string& error) {
    const std::string shorts =
        std::string(":") + shortOptions;  // ':' tells a missing value from an unknown option
    optind = 0;                           // 0, not 1: glibc starts over entirely
    opterr = 0;                           // the caller prints the one line
    for (int c; (c = getopt_long(argc, argv, shorts.c_str(), options, nullptr)) != -1;) {
        if (c != '?' && c != ':') {
            read.emplace_back(c, optarg);
            continue;
        }
        // A long option's error has moved past it; a short one's may sit inside a group ("-xh").
        const std::string given = argv[optind - 1];
        const std::string name = given.substr(0, given.find('='));
        const std::string shown = printable(name, 40);
        int prefixOf = 0;
        bool valueGiven = false;
        for (const option* o = options; o->name; ++o) {
            prefixOf += optopt == 0 && std::strncmp(o->name, name.c_str() + 2, name.size() - 2) == 0;
            valueGiven |= optopt != 0 && o->val == optopt && name == std::string("--") + o->name;
        }
        error = c == ':'       ? shown + " needs a value"
                : valueGiven   ? shown + " takes no value"
                : optopt != 0  ? "unknown option -" + printable(std::string(1, char(optopt)))
                : prefixOf > 1 ? "ambiguous option " + shown
                               : "unknown option " + shown;
        return false;
    }
    operands.assign(argv + optind, argv + argc);
    return true;
}

}  // namespace Leap
