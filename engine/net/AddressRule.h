// Which addresses lie in private networks, and which page hosts stand on one.
#pragma once

#include <winsock2.h>

// Loopback, private, link-local, shared (carrier-grade NAT) and "this network" IPv4 ranges:
// 127/8, 10/8, 172.16/12, 192.168/16, 169.254/16, 100.64/10 and 0/8.
bool IsPrivateAddress(in_addr address);

// A page's host (lower case, as the page address gives it) is on a private network: "localhost"
// or a name under it, a name without a dot, an address in the ranges above in any form that
// inet_addr reads (decimal, hex, octal, short dotted), or the IPv6 loopback, unique-local and
// link-local literals. "" (a page without a host) is not.
bool IsPrivateHost(const char* host);
