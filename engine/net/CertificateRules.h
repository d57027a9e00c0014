// What a server's certificates must hold beyond what the system's chain engine checks.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

struct CTlsLibraries;

// True when cert may not stand in a chain: an RSA key under 2048 bits, or a signature made with
// MD2, MD4, MD5 or SHA-1. A trusted root's own self-signature vouches for nothing and is not
// judged (its key is).
bool IsWeakCertificate(const CTlsLibraries* libraries, PCCERT_CONTEXT cert, bool trustedRoot);

// True when the certificate's subjectAltName holds address as an IP entry: for an address
// host, browsers take no DNS entry or common name instead.
bool CertificateNamesAddress(const CTlsLibraries* libraries, PCCERT_CONTEXT cert, in_addr address);
