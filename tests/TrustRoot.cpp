// Adds a certificate authority to the trusted roots of the Wine prefix it runs in (the test set-up's).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trust_root FILE.der\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    if (f == NULL) {
        fprintf(stderr, "trust_root: cannot read %s\n", argv[1]);
        return 2;
    }
    std::vector<unsigned char> der(65536);
    size_t size = fread(der.data(), 1, der.size(), f);
    fclose(f);
    if (!CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(), static_cast<DWORD>(size))) {
        fprintf(stderr, "trust_root: not added (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
