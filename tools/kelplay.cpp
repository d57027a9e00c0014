// kelplay: a console container for the kelplayerx control; plays an address and prints the control's events.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <string>

#include "ConsoleText.h"
#include "ControlHost.h"
#include "Dispids.h"
#include "ProcessCensus.h"

namespace
{
const UINT WM_KELPLAY_LINE = WM_APP + 0x200; // lParam: heap std::string, freed by the receiver
const UINT WM_KELPLAY_EOF = WM_APP + 0x201;
const UINT_PTR TIMER_SECONDS = 1;

CControlHost* g_host = NULL;

// stdout is in binary mode (see main): the line goes out in one write, its CR LF written here.
void PrintLine(const std::string& line)
{
    std::string out = line + "\r\n";
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
}

std::string Utf8(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, NULL, NULL);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, NULL, 0);
    std::wstring out(chars > 0 ? chars : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], chars);
    out.resize(out.size() - 1);
    return out;
}

// Prints what the event's handler is expected to read.
void PrintEvent(DISPID id)
{
    short fill = 0;
    std::wstring title;
    if (id == EVENTID_KEL_CHANGEBUFFERSTATE && SUCCEEDED(g_host->CallShort(DISPID_KEL_GETBUFFERSTATE, &fill)))
        PrintLine("ChangeBufferState " + std::to_string(fill));
    else if (id == EVENTID_KEL_CHANGEMETADATA && SUCCEEDED(g_host->GetString(DISPID_KEL_METADATA, &title)))
        PrintLine("ChangeMetadata " + EscapeControls(Utf8(title)));
}

// COM calls stay on the main thread: this thread only hands the lines over.
unsigned __stdcall StdinThreadProc(void* arg)
{
    DWORD mainThread = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(arg));
    char line[4096];
    while (fgets(line, sizeof(line), stdin) != NULL) {
        size_t length = strcspn(line, "\r\n");
        std::string* text = new std::string(line, length);
        if (!PostThreadMessageA(mainThread, WM_KELPLAY_LINE, 0, reinterpret_cast<LPARAM>(text)))
            delete text;
    }
    PostThreadMessageA(mainThread, WM_KELPLAY_EOF, 0, 0);
    return 0;
}

// Runs one command line; false on quit.
bool RunCommand(const std::string& line)
{
    std::string command = line.substr(0, line.find(' '));
    std::string rest = line.size() > command.size() ? line.substr(command.size() + 1) : std::string();
    if (command == "quit") {
        return false;
    } else if (command == "url" && !rest.empty()) {
        g_host->PutString(DISPID_KEL_URL, Wide(rest).c_str());
    } else if (command == "play") {
        g_host->Call(DISPID_KEL_PLAY);
    } else if (command == "stop") {
        g_host->Call(DISPID_KEL_STOP);
    } else if (command == "volume" && !rest.empty()) {
        g_host->PutShort(DISPID_KEL_VOLUME, static_cast<short>(atoi(rest.c_str())));
    } else if (command == "volume") {
        short volume = 0;
        if (SUCCEEDED(g_host->GetShort(DISPID_KEL_VOLUME, &volume)))
            PrintLine("volume " + std::to_string(volume));
    } else if (command == "count" && !rest.empty()) {
        VARIANT arg;
        V_VT(&arg) = VT_BSTR;
        V_BSTR(&arg) = SysAllocString(Wide(rest).c_str());
        VARIANT value;
        if (SUCCEEDED(g_host->Call(DISPID_KEL_GETCOUNT, &arg, 1, &value)) && V_VT(&value) == VT_BSTR) {
            std::string body = Utf8(std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value))));
            PrintLine("getCount " + std::to_string(body.size()));
            PrintLine(body);
        }
        VariantClear(&value);
        VariantClear(&arg);
    } else if (command == "stats") {
        PrintLine("stats " + FormatProcessCensus(TakeProcessCensus(GetCurrentProcess(), GetCurrentProcessId())));
    } else if (!line.empty()) {
        fprintf(stderr, "kelplay: unknown command: %s\n", line.c_str());
    }
    return true;
}

int Usage()
{
    fprintf(stderr, "usage: kelplay [<address>] [--seconds N]\n"
                    "commands on stdin: url <address>, play, stop, volume [<n>], count <address>, stats, quit\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    const char* address = NULL;
    int seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = atoi(argv[++i]);
        else if (address == NULL && argv[i][0] != '-')
            address = argv[i];
        else
            return Usage();
    }

    // In text mode the C runtime asks whether stdout is a console once for every character it
    // writes, a round trip to the wineserver each under Wine: twenty for every event printed.
    _setmode(_fileno(stdout), _O_BINARY);
    if (FAILED(OleInitialize(NULL))) {
        fprintf(stderr, "kelplay: no COM\n");
        return 1;
    }
    // The hidden window that keeps the time; the control is hosted without in-place activation.
    HWND host = CreateWindowA("STATIC", "kelplay", 0, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    CControlHost control(PrintEvent);
    g_host = &control;
    RECT nowhere = {0, 0, 0, 0};
    if (!control.Create(NULL, nowhere)) {
        fprintf(stderr, "kelplay: the control is not registered\n");
        DestroyWindow(host);
        OleUninitialize();
        return 1;
    }

    if (address != NULL) {
        RunCommand(std::string("url ") + address);
        RunCommand("play");
    }
    if (seconds > 0)
        SetTimer(host, TIMER_SECONDS, static_cast<UINT>(seconds) * 1000, NULL);
    unsigned threadId = 0;
    HANDLE reader = reinterpret_cast<HANDLE>(_beginthreadex(
        NULL, 0, StdinThreadProc, reinterpret_cast<void*>(static_cast<UINT_PTR>(GetCurrentThreadId())), 0, &threadId));

    MSG msg;
    bool running = true;
    while (running && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.hwnd == NULL && msg.message == WM_KELPLAY_LINE) {
            std::string* line = reinterpret_cast<std::string*>(msg.lParam);
            running = RunCommand(*line);
            delete line;
        } else if (msg.hwnd == NULL && msg.message == WM_KELPLAY_EOF) {
            running = seconds > 0; // without a time limit, the end of input ends the run
        } else if (msg.hwnd == host && msg.message == WM_TIMER) {
            running = false;
        } else {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    control.Destroy();
    DestroyWindow(host);
    OleUninitialize();
    fflush(stdout);
    // The reader thread may still wait for input; the process ends without it.
    if (reader != NULL)
        CloseHandle(reader);
    ExitProcess(0);
}
