#include "ClientAddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace cloud {

namespace {

// An address in its usual text (no port, no brackets), as a socket address.
bool parseAddress(std::string_view text, sockaddr_storage &out) {
    out = {};
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return false;
    const std::string terminated(text);
    auto &v4 = reinterpret_cast<sockaddr_in &>(out);
    if (inet_pton(AF_INET, terminated.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        return true;
    }
    auto &v6 = reinterpret_cast<sockaddr_in6 &>(out);
    if (inet_pton(AF_INET6, terminated.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return true;
    }
    return false;
}

// One form for comparing: an IPv4 address as its IPv6-mapped one. False for
// anything but an IP address.
bool asIpv6(const sockaddr *address, in6_addr &out) {
    if (!address)
        return false;
    if (address->sa_family == AF_INET6) {
        out = reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr;
        return true;
    }
    if (address->sa_family != AF_INET)
        return false;
    out = {};
    out.s6_addr[10] = 0xFF;
    out.s6_addr[11] = 0xFF;
    std::memcpy(out.s6_addr + 12, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, 4);
    return true;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

ClientAddress describeClient(const sockaddr *address) {
    ClientAddress out;
    if (!address)
        return out;
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text,
                  sizeof text);
        out.text = text;
        out.limitKey = out.text;
    } else if (address->sa_family == AF_INET6) {
        const in6_addr &ip = reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr;
        inet_ntop(AF_INET6, &ip, text, sizeof text);
        out.text = text;
        if (IN6_IS_ADDR_V4MAPPED(&ip)) {
            in_addr v4;
            std::memcpy(&v4, ip.s6_addr + 12, sizeof v4);
            char v4text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &v4, v4text, sizeof v4text);
            out.limitKey = v4text;
        } else {
            in6_addr network = {};
            std::memcpy(network.s6_addr, ip.s6_addr, 8);
            inet_ntop(AF_INET6, &network, text, sizeof text);
            out.limitKey = std::string(text) + "/64";
        }
    }
    return out;
}

TrustedProxies::TrustedProxies(const std::vector<std::string> &addresses) {
    for (const auto &text : addresses) {
        sockaddr_storage parsed;
        in6_addr address;
        if (!parseAddress(text, parsed) ||
            !asIpv6(reinterpret_cast<const sockaddr *>(&parsed), address))
            throw std::invalid_argument(
                std::string("\"").append(text).append("\" is not an IPv4 or IPv6 address"));
        addresses_.push_back(address);
    }
}

bool TrustedProxies::contains(const in6_addr &address) const {
    return std::any_of(addresses_.begin(), addresses_.end(), [&address](const in6_addr &a) {
        return std::memcmp(&a, &address, sizeof a) == 0;
    });
}

bool TrustedProxies::contains(const sockaddr *peer) const {
    in6_addr address;
    return asIpv6(peer, address) && contains(address);
}

ClientAddress TrustedProxies::client(const sockaddr *peer, std::string_view forwardedFor) const {
    if (!contains(peer))
        return describeClient(peer);
    std::string_view rest = forwardedFor;
    while (!rest.empty()) {
        const auto comma = rest.rfind(',');
        const std::string_view entry =
            trimmed(comma == std::string_view::npos ? rest : rest.substr(comma + 1));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
        sockaddr_storage parsed;
        // A header the proxy mangled tells nothing: the proxy stands for its clients.
        if (!parseAddress(entry, parsed))
            break;
        const auto *address = reinterpret_cast<const sockaddr *>(&parsed);
        if (!contains(address))
            return describeClient(address);
    }
    return describeClient(peer);
}

} // namespace cloud
