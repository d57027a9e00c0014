// Reads a window as a screen reader does: its client object's children (name, role, state, value,
// place), and the name and value changes it announces.
// Usage: accessible_probe CAPTION [--watch SECONDS]
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
std::string Utf8(BSTR text)
{
    if (text == NULL)
        return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(SysStringLen(text)), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(SysStringLen(text)), &out[0], size, NULL, NULL);
    SysFreeString(text);
    return out;
}

VARIANT Child(LONG id)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

void PrintChild(IAccessible* acc, LONG id)
{
    VARIANT child = Child(id);
    BSTR name = NULL, value = NULL;
    acc->get_accName(child, &name);
    acc->get_accValue(child, &value);
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    acc->get_accRole(child, &role);
    acc->get_accState(child, &state);
    LONG x = 0, y = 0, w = 0, h = 0;
    acc->accLocation(&x, &y, &w, &h, child);
    printf("CHILD %ld role=%ld state=0x%lx at=%ld,%ld,%ld,%ld name=%s|value=%s\n", id,
           role.vt == VT_I4 ? role.lVal : -1L, state.vt == VT_I4 ? state.lVal : -1L, x, y, w, h,
           Utf8(name).c_str(), Utf8(value).c_str());
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (object != OBJID_CLIENT)
        return;
    IAccessible* acc = NULL;
    VARIANT which;
    VariantInit(&which);
    if (FAILED(AccessibleObjectFromEvent(window, object, child, &acc, &which)) || acc == NULL)
        return;
    BSTR text = NULL;
    if (event == EVENT_OBJECT_NAMECHANGE)
        acc->get_accName(which, &text);
    else
        acc->get_accValue(which, &text);
    printf("EVENT %s %ld %s\n", event == EVENT_OBJECT_NAMECHANGE ? "NAME" : "VALUE", child, Utf8(text).c_str());
    fflush(stdout);
    acc->Release();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: accessible_probe CAPTION [--watch SECONDS]\n");
        return 2;
    }
    CoInitialize(NULL);
    HWND window = FindWindowA(NULL, argv[1]);
    if (window == NULL) {
        fprintf(stderr, "accessible_probe: no window \"%s\"\n", argv[1]);
        return 1;
    }
    IAccessible* acc = NULL;
    HRESULT hr = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                            reinterpret_cast<void**>(&acc));
    if (FAILED(hr) || acc == NULL) {
        fprintf(stderr, "accessible_probe: no accessible object for \"%s\": 0x%lx\n", argv[1],
                static_cast<unsigned long>(hr));
        return 1;
    }
    BSTR name = NULL;
    acc->get_accName(Child(CHILDID_SELF), &name);
    LONG count = 0;
    acc->get_accChildCount(&count);
    printf("WINDOW %s children=%ld\n", Utf8(name).c_str(), count);
    for (LONG id = 1; id <= count; ++id)
        PrintChild(acc, id);
    fflush(stdout);
    for (int i = 2; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--watch") == 0) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, NULL, OnEvent,
                                                 pid, 0, WINEVENT_OUTOFCONTEXT);
            printf("WATCHING %s\n", hook != NULL ? "yes" : "no");
            fflush(stdout);
            DWORD until = GetTickCount() + static_cast<DWORD>(atof(argv[i + 1]) * 1000);
            while (static_cast<LONG>(until - GetTickCount()) > 0) {
                MsgWaitForMultipleObjects(0, NULL, FALSE, until - GetTickCount(), QS_ALLINPUT);
                MSG msg;
                while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                    DispatchMessageA(&msg);
            }
            if (hook != NULL)
                UnhookWinEvent(hook);
        }
        fflush(stdout);
    }
    acc->Release();
    CoUninitialize();
    return 0;
}
