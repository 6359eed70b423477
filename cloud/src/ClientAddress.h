// The text of a client's address, and the key the server's limits count it
// under (sign-in back-off, signature tokens, the event collector).
#pragma once

#include <string>

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

} // namespace cloud
