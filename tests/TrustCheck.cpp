// Asks WinVerifyTrust whether a file's Authenticode signature verifies, as Windows does before it runs or installs it.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trust_check FILE\n");
        return 2;
    }
    std::wstring path(MAX_PATH, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, &path[0], MAX_PATH);
    if (length == 0) {
        fprintf(stderr, "trust_check: bad path\n");
        return 2;
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    printf("0x%08lx\n", static_cast<unsigned long>(result));
    return result == ERROR_SUCCESS ? 0 : 1;
}
