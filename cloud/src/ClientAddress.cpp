#include "ClientAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace cloud {

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

} // namespace cloud
