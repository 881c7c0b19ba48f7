// Parsing of the service's address; the IP address is checked here, so a source can use it as is.
#include "tracker/Address.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>
#include <charconv>
#include <string_view>

namespace Leap {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

bool parseAddress(const std::string& url, Address& out) {
    constexpr std::string_view kScheme = "ws://";
    if (lowered(url.substr(0, kScheme.size())) != kScheme) return false;
    const std::string rest = url.substr(kScheme.size());
    const size_t slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    out.target = slash == std::string::npos ? "/" : rest.substr(slash);
    for (char c : out.target)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
    const bool bracketed = !authority.empty() && authority[0] == '[';
    const size_t colon = bracketed ? authority.find("]:") + 1 : authority.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = lowered(authority.substr(bracketed ? 1 : 0, bracketed ? colon - 2 : colon));
    const std::string port = authority.substr(colon + 1);
    unsigned number = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || number == 0 ||
        number > 65535)
        return false;
    if (host == "localhost") host = "127.0.0.1";
    boost::system::error_code bad;
    const boost::asio::ip::address ip = boost::asio::ip::make_address(host, bad);
    if (bad) return false;
    out.ip = ip.to_string();
    out.port = static_cast<unsigned short>(number);
    out.host = authority;
    return true;
}

}  // namespace Leap
