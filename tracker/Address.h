// Where the tracking service listens: ws://HOST:PORT/PATH, HOST an IP address ([v6] in brackets)
// or localhost, in any case. No name lookup: it would stall a frame or need a thread.
#pragma once

#include <string>

namespace Leap {

struct Address {
    std::string ip;  // numeric
    unsigned short port = 0;
    std::string host;  // HOST:PORT as written, for the Host header
    std::string target = "/";
};

// False for anything else.
bool parseAddress(const std::string& url, Address& out);

}  // namespace Leap
