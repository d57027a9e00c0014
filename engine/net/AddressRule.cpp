// The private-network ranges that a control on a public page may not connect to.
#include "engine/net/AddressRule.h"

#include <cstring>

namespace
{
struct CRange
{
    unsigned long network;
    int bits;
};

const CRange PRIVATE_RANGES[] = {
    {0x7F000000, 8}, {0x0A000000, 8}, {0xAC100000, 12}, {0xC0A80000, 16},
    {0xA9FE0000, 16}, {0x64400000, 10}, {0x00000000, 8},
};

// The host read as the system reads an address, in every form inet_addr takes: decimal, hex
// ("0xcb007107") and octal parts, and short dotted forms ("127.1", "3405803783").
bool ParseAddressHost(const char* host, in_addr* address)
{
    if (strspn(host, "0123456789abcdefx.") != strlen(host))
        return false;
    address->s_addr = inet_addr(host);
    return address->s_addr != INADDR_NONE;
}

bool EndsWith(const char* text, const char* tail)
{
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && strcmp(text + n - m, tail) == 0;
}
} // namespace

bool IsPrivateAddress(in_addr address)
{
    unsigned long value = ntohl(address.s_addr);
    for (const CRange& range : PRIVATE_RANGES) {
        unsigned long mask = 0xFFFFFFFFul << (32 - range.bits);
        if ((value & mask) == range.network)
            return true;
    }
    return false;
}

bool IsPrivateAddress(const in6_addr& address)
{
    const unsigned char* b = address.s6_addr;
    static const unsigned char ZEROS[12] = {0};
    static const unsigned char MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    static const unsigned char TRANSLATED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0};
    static const unsigned char NAT64[12] = {0, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
    static const unsigned char NAT64_LOCAL[6] = {0, 0x64, 0xFF, 0x9B, 0, 0x01};
    if ((b[0] & 0xFE) == 0xFC || b[0] == 0xFF || (b[0] == 0xFE && (b[1] & 0x80) == 0x80) ||
        memcmp(b, NAT64_LOCAL, sizeof(NAT64_LOCAL)) == 0)
        return true;
    // The IPv4-compatible form begins with 96 zero bits, and so do :: and ::1, which carry
    // 0.0.0.0 and 0.0.0.1, both in 0/8.
    if (memcmp(b, ZEROS, 12) == 0 || memcmp(b, MAPPED, 12) == 0 || memcmp(b, TRANSLATED, 12) == 0 ||
        memcmp(b, NAT64, 12) == 0) {
        in_addr carried;
        memcpy(&carried, b + 12, sizeof(carried));
        return IsPrivateAddress(carried);
    }
    return false;
}

bool IsPrivateHost(const char* host)
{
    if (host == NULL || *host == '\0')
        return false;
    if (host[0] == '[')
        return strcmp(host, "[::1]") == 0 || strncmp(host, "[fc", 3) == 0 || strncmp(host, "[fd", 3) == 0 ||
               strncmp(host, "[fe8", 4) == 0 || strncmp(host, "[fe9", 4) == 0 || strncmp(host, "[fea", 4) == 0 ||
               strncmp(host, "[feb", 4) == 0;
    // An address first: "3405803783" is a public address, not a name without a dot.
    in_addr address;
    if (ParseAddressHost(host, &address))
        return IsPrivateAddress(address);
    return strcmp(host, "localhost") == 0 || EndsWith(host, ".localhost") || strchr(host, '.') == NULL;
}
