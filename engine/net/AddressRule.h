// Which addresses lie in private networks, and which page hosts stand on one.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// Loopback, private, link-local, shared (carrier-grade NAT) and "this network" IPv4 ranges:
// 127/8, 10/8, 172.16/12, 192.168/16, 169.254/16, 100.64/10 and 0/8.
bool IsPrivateAddress(in_addr address);
// The IPv6 loopback and unspecified addresses, unique-local fc00::/7, link-local fe80::/10,
// site-local fec0::/10, multicast ff00::/8 and local-use NAT64 64:ff9b:1::/48; and the forms
// that carry an IPv4 address (IPv4-mapped ::ffff:0:0/96, IPv4-translated ::ffff:0:0:0/96,
// IPv4-compatible ::/96, NAT64 64:ff9b::/96), judged by the IPv4 ranges on the address carried.
bool IsPrivateAddress(const in6_addr& address);

// A page's host (lower case, as the page address gives it) is on a private network: "localhost"
// or a name under it, a name without a dot, an address in the ranges above in any form that
// inet_addr reads (decimal, hex, octal, short dotted), or the IPv6 loopback, unique-local and
// link-local literals. "" (a page without a host) is not.
bool IsPrivateHost(const char* host);
