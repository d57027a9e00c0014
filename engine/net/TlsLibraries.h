// The system libraries behind TLS (SSPI's Schannel, the certificate checks), loaded at the first secure connection.
#pragma once

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <wincrypt.h>

// Most stations are plain http, and under Wine loading these two libraries with the control
// cost every player's start about 40 ms before its first sound; so they come when TLS is used.
struct CTlsLibraries
{
    PSecurityFunctionTableA sspi;
    decltype(&CertGetCertificateChain) getCertificateChain;
    decltype(&CertVerifyCertificateChainPolicy) verifyCertificateChainPolicy;
    decltype(&CertFreeCertificateChain) freeCertificateChain;
    decltype(&CertFreeCertificateContext) freeCertificateContext;
    decltype(&CertGetPublicKeyLength) getPublicKeyLength;
    decltype(&CertFindExtension) findExtension;
    decltype(&CryptDecodeObjectEx) decodeObject;
};

// The libraries' entries, loaded once for the process (from any thread) and kept to its end;
// NULL when the system lacks one of them.
const CTlsLibraries* TlsLibraries();
