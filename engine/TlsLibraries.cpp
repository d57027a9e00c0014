// Loads secur32 and crypt32 on first use and keeps their entries for the process.
#include "TlsLibraries.h"

namespace
{
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
CTlsLibraries g_libraries; // written once under g_once, read-only afterwards

template <typename T>
bool Entry(HMODULE module, const char* name, T* entry)
{
    *entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *entry != NULL;
}

BOOL CALLBACK Load(PINIT_ONCE, PVOID, PVOID* context)
{
    HMODULE secur32 = LoadLibraryA("secur32.dll");
    HMODULE crypt32 = LoadLibraryA("crypt32.dll");
    INIT_SECURITY_INTERFACE_A initSecurity = NULL;
    bool loaded = secur32 != NULL && crypt32 != NULL && Entry(secur32, "InitSecurityInterfaceA", &initSecurity) &&
                  (g_libraries.sspi = initSecurity()) != NULL && g_libraries.sspi->EncryptMessage != NULL &&
                  g_libraries.sspi->DecryptMessage != NULL &&
                  Entry(crypt32, "CertGetCertificateChain", &g_libraries.getCertificateChain) &&
                  Entry(crypt32, "CertVerifyCertificateChainPolicy", &g_libraries.verifyCertificateChainPolicy) &&
                  Entry(crypt32, "CertFreeCertificateChain", &g_libraries.freeCertificateChain) &&
                  Entry(crypt32, "CertFreeCertificateContext", &g_libraries.freeCertificateContext);
    *context = loaded ? &g_libraries : NULL;
    return TRUE;
}
} // namespace

const CTlsLibraries* TlsLibraries()
{
    void* libraries = NULL;
    InitOnceExecuteOnce(&g_once, Load, NULL, &libraries);
    return static_cast<const CTlsLibraries*>(libraries);
}
