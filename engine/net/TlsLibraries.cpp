// Loads secur32 and crypt32 on first use and keeps their entries for the process.
#include "engine/net/TlsLibraries.h"

#include <cstring>

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

// From the system directory by its full path: the control lives in whatever program hosts it,
// and a bare name would also be looked for in that program's folder and current directory.
HMODULE SystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + strlen(name) >= MAX_PATH)
        return NULL;
    path[length] = '\\';
    strcpy(path + length + 1, name);
    return LoadLibraryA(path);
}

BOOL CALLBACK Load(PINIT_ONCE, PVOID, PVOID* context)
{
    HMODULE secur32 = SystemLibrary("secur32.dll");
    HMODULE crypt32 = SystemLibrary("crypt32.dll");
    INIT_SECURITY_INTERFACE_A initSecurity = NULL;
    bool loaded = secur32 != NULL && crypt32 != NULL && Entry(secur32, "InitSecurityInterfaceA", &initSecurity) &&
                  (g_libraries.sspi = initSecurity()) != NULL && g_libraries.sspi->EncryptMessage != NULL &&
                  g_libraries.sspi->DecryptMessage != NULL &&
                  Entry(crypt32, "CertGetCertificateChain", &g_libraries.getCertificateChain) &&
                  Entry(crypt32, "CertVerifyCertificateChainPolicy", &g_libraries.verifyCertificateChainPolicy) &&
                  Entry(crypt32, "CertFreeCertificateChain", &g_libraries.freeCertificateChain) &&
                  Entry(crypt32, "CertFreeCertificateContext", &g_libraries.freeCertificateContext) &&
                  Entry(crypt32, "CertGetPublicKeyLength", &g_libraries.getPublicKeyLength) &&
                  Entry(crypt32, "CertFindExtension", &g_libraries.findExtension) &&
                  Entry(crypt32, "CryptDecodeObjectEx", &g_libraries.decodeObject);
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
