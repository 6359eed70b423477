// The text of a client's address, and the key the server's limits count it
// under (sign-in back-off, signature tokens, the event collector); behind a
// trusted reverse proxy, the address the proxy says it forwarded.
#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

namespace cloud {

struct ClientAddress {
    std::string text; // as printed in the log
    // An IPv4 client by its address; an IPv6 client by its /64 network, which
    // one subscriber usually holds whole and could otherwise spread its
    // attempts over. An IPv4 address in IPv6 form counts as the IPv4 one.
    std::string limitKey;
};

ClientAddress describeClient(const sockaddr *address);

// The reverse proxies (load balancers) whose X-Forwarded-For is believed.
// Behind one, every connection comes from the proxy, and the client is
// known only from what the proxy appends to that header. Anyone else may
// write anything there, so from any other peer it is ignored.
class TrustedProxies {
public:
    TrustedProxies() = default;
    // IPv4 or IPv6 addresses in their usual text; throws std::invalid_argument
    // naming the first that is neither.
    explicit TrustedProxies(const std::vector<std::string> &addresses);

    bool empty() const { return addresses_.empty(); }
    bool contains(const sockaddr *peer) const;

    // The client of a request from `peer` that carried `forwardedFor` (its
    // X-Forwarded-For fields joined by commas, in order): from a trusted
    // peer, the right-most entry that is not itself a trusted proxy (every
    // proxy appends the address it was reached from, so entries left of the
    // last untrusted one were written by the client); otherwise, and when the
    // header says nothing usable, the peer itself.
    ClientAddress client(const sockaddr *peer, std::string_view forwardedFor) const;

private:
    bool contains(const in6_addr &address) const;
    std::vector<in6_addr> addresses_; // IPv4 ones in their IPv6-mapped form
};

} // namespace cloud
