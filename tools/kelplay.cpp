// kelplay: a console container for the kelplayerx control; plays an address and prints the control's events.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <process.h>
#include <string>

namespace
{
const UINT WM_KELPLAY_LINE = WM_APP + 0x200; // lParam: heap std::string, freed by the receiver
const UINT WM_KELPLAY_EOF = WM_APP + 0x201;
const UINT_PTR TIMER_SECONDS = 1;
const DISPID EVENT_CHANGEBUFFERSTATE = 1;
const DISPID EVENT_CHANGEMETADATA = 2;

IDispatch* g_control = NULL;

void PrintLine(const std::string& line)
{
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

std::string Utf8(BSTR text)
{
    if (text == NULL)
        return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(SysStringLen(text)), NULL, 0, NULL, NULL);
    std::string out(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(SysStringLen(text)), &out[0], bytes, NULL, NULL);
    return out;
}

// Late-bound call by name; flags: DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT.
HRESULT Invoke(const wchar_t* name, WORD flags, VARIANT* arg, VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = g_control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {arg, flags == DISPATCH_PROPERTYPUT ? &named : NULL, arg != NULL ? 1u : 0u,
                         flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    if (result != NULL)
        VariantInit(result);
    return g_control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, NULL, NULL);
}

VARIANT StringArg(const char* text)
{
    VARIANT v;
    VariantInit(&v);
    int chars = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(NULL, chars > 0 ? chars - 1 : 0);
    MultiByteToWideChar(CP_UTF8, 0, text, -1, V_BSTR(&v), chars);
    return v;
}

// Reads what the event's handler is expected to read, and prints it.
class CEventPrinter : public IDispatch
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, m_events)) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    // Lives on main's stack for the whole run.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        VARIANT value;
        if (id == EVENT_CHANGEBUFFERSTATE && SUCCEEDED(::Invoke(L"getBufferState", DISPATCH_METHOD, NULL, &value))) {
            PrintLine("ChangeBufferState " + std::to_string(V_I2(&value)));
            VariantClear(&value);
        } else if (id == EVENT_CHANGEMETADATA &&
                   SUCCEEDED(::Invoke(L"metadata", DISPATCH_PROPERTYGET, NULL, &value))) {
            PrintLine("ChangeMetadata " + Utf8(V_BSTR(&value)));
            VariantClear(&value);
        }
        return S_OK;
    }

    // Connects to the control's default source interface; the cookie, or 0.
    DWORD Connect()
    {
        IProvideClassInfo2* info = NULL;
        if (SUCCEEDED(g_control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)))) {
            info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &m_events);
            info->Release();
        }
        IConnectionPointContainer* container = NULL;
        DWORD cookie = 0;
        if (SUCCEEDED(g_control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            if (SUCCEEDED(container->FindConnectionPoint(m_events, &m_point)))
                m_point->Advise(this, &cookie);
            container->Release();
        }
        return cookie;
    }
    void Disconnect(DWORD cookie)
    {
        if (m_point != NULL) {
            m_point->Unadvise(cookie);
            m_point->Release();
            m_point = NULL;
        }
    }

private:
    IID m_events = IID_NULL;
    IConnectionPoint* m_point = NULL;
};

// The container's client site: the control is hosted, never activated in place.
class CClientSite : public IOleClientSite
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
            *object = static_cast<IOleClientSite*>(this);
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        *moniker = NULL;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
};

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
    VARIANT value;
    if (command == "quit") {
        return false;
    } else if (command == "url" && !rest.empty()) {
        VARIANT arg = StringArg(rest.c_str());
        Invoke(L"url", DISPATCH_PROPERTYPUT, &arg, NULL);
        VariantClear(&arg);
    } else if (command == "play") {
        Invoke(L"Play", DISPATCH_METHOD, NULL, NULL);
    } else if (command == "stop") {
        Invoke(L"Stop", DISPATCH_METHOD, NULL, NULL);
    } else if (command == "volume" && !rest.empty()) {
        VARIANT arg;
        V_VT(&arg) = VT_I2;
        V_I2(&arg) = static_cast<SHORT>(atoi(rest.c_str()));
        Invoke(L"volume", DISPATCH_PROPERTYPUT, &arg, NULL);
    } else if (command == "volume") {
        if (SUCCEEDED(Invoke(L"volume", DISPATCH_PROPERTYGET, NULL, &value)))
            PrintLine("volume " + std::to_string(V_I2(&value)));
    } else if (command == "count" && !rest.empty()) {
        VARIANT arg = StringArg(rest.c_str());
        if (SUCCEEDED(Invoke(L"getCount", DISPATCH_METHOD, &arg, &value))) {
            std::string body = Utf8(V_BSTR(&value));
            PrintLine("getCount " + std::to_string(body.size()));
            PrintLine(body);
            VariantClear(&value);
        }
        VariantClear(&arg);
    } else if (!line.empty()) {
        fprintf(stderr, "kelplay: unknown command: %s\n", line.c_str());
    }
    return true;
}

int Usage()
{
    fprintf(stderr, "usage: kelplay [<address>] [--seconds N]\n"
                    "commands on stdin: url <address>, play, stop, volume [<n>], count <address>, quit\n");
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

    if (FAILED(OleInitialize(NULL))) {
        fprintf(stderr, "kelplay: no COM\n");
        return 1;
    }
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"KELPLAYERX.KelPlayerCtrl.1", &clsid)) ||
        FAILED(CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&g_control)))) {
        fprintf(stderr, "kelplay: the control is not registered\n");
        OleUninitialize();
        return 1;
    }

    // The hidden window that hosts the control and keeps the time.
    HWND host = CreateWindowA("STATIC", "kelplay", 0, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    CClientSite site;
    IOleObject* ole = NULL;
    if (SUCCEEDED(g_control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))))
        ole->SetClientSite(&site);
    IPersistStreamInit* persist = NULL;
    if (SUCCEEDED(g_control->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
        persist->InitNew();
        persist->Release();
    }
    CEventPrinter printer;
    DWORD cookie = printer.Connect();
    if (cookie == 0)
        fprintf(stderr, "kelplay: events cannot be connected\n");

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

    printer.Disconnect(cookie);
    if (ole != NULL) {
        ole->Close(OLECLOSE_NOSAVE);
        ole->SetClientSite(NULL);
        ole->Release();
    }
    g_control->Release();
    DestroyWindow(host);
    OleUninitialize();
    fflush(stdout);
    // The reader thread may still wait for input; the process ends without it.
    if (reader != NULL)
        CloseHandle(reader);
    ExitProcess(0);
}
