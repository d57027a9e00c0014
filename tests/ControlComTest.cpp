// The control through COM only: creation by ProgID, its interfaces, late-bound members, events and persistence.
#include <gtest/gtest.h>

#include <ole2.h>
#include <olectl.h>

#include <map>

#include "ComTestSupport.h"
#include "LoopbackServer.h"

namespace
{
class ControlCom : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control = CreateControl();
        ASSERT_NE(control, nullptr) << "is kelplayerx.ocx registered?";
        report = FindReportWindow();
        ASSERT_NE(report, nullptr);
    }
    void TearDown() override
    {
        if (sink != nullptr) {
            sink->Disconnect(control, cookie);
            sink->Release();
        }
        if (control != nullptr)
            control->Release();
    }
    void ConnectSink()
    {
        sink = new CEventSink();
        cookie = sink->Connect(control);
        ASSERT_NE(cookie, 0u);
    }
    template <class T> T* Query(REFIID iid)
    {
        T* p = nullptr;
        control->QueryInterface(iid, reinterpret_cast<void**>(&p));
        return p;
    }

    CComScope com;
    IDispatch* control = nullptr;
    HWND report = nullptr;
    CEventSink* sink = nullptr;
    DWORD cookie = 0;
};

const IID* const CONTROL_INTERFACES[] = {
    &IID_IOleObject,          &IID_IOleInPlaceObject,     &IID_IOleInPlaceActiveObject, &IID_IOleControl,
    &IID_IViewObject2,        &IID_IPersistStreamInit,    &IID_IPersistPropertyBag,     &IID_IProvideClassInfo2,
    &IID_IConnectionPointContainer, &IID_ISpecifyPropertyPages, &IID_IPersist,           &IID_IOleWindow,
};
// A property bag in memory, as a web page's PARAM list would be.
class CMemoryBag : public IPropertyBag
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
            *object = static_cast<IPropertyBag*>(this);
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        auto found = values.find(name);
        if (found == values.end())
            return E_INVALIDARG;
        return VariantChangeType(value, &found->second, 0, V_VT(value) == VT_EMPTY ? VARTYPE(VT_I4) : V_VT(value));
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override
    {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, value);
        values[name] = copy;
        return S_OK;
    }

    std::map<std::wstring, VARIANT> values;
};
// The extent of a new control after load(control) has loaded it.
SIZEL ExtentOfNewControl(const std::function<void(IDispatch*)>& load)
{
    SIZEL extent = {-1, -1};
    IDispatch* control = CreateControl();
    if (control == nullptr)
        return extent;
    load(control);
    IOleObject* ole = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
    ole->GetExtent(DVASPECT_CONTENT, &extent);
    ole->Release();
    control->Release();
    return extent;
}
} // namespace

TEST_F(ControlCom, AnswersTheInterfacesOfAControl)
{
    for (const IID* iid : CONTROL_INTERFACES) {
        IUnknown* p = Query<IUnknown>(*iid);
        EXPECT_NE(p, nullptr);
        if (p != nullptr)
            p->Release();
    }
    IOleObject* ole = Query<IOleObject>(IID_IOleObject);
    DWORD status = 0;
    ole->GetMiscStatus(DVASPECT_CONTENT, &status);
    EXPECT_EQ(status, 0x20191u);
    ole->Release();

    ISpecifyPropertyPages* pages = Query<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
    CAUUID list = {};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    CLSID page;
    CLSIDFromProgID(KEL_PAGE_PROGID, &page);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(list.pElems[0], page));
    CoTaskMemFree(list.pElems);
    pages->Release();
}

TEST_F(ControlCom, NamesMapToTheFixedDispids)
{
    CDispatchCaller c(control);
    EXPECT_EQ(c.Id(L"volume"), 1);
    EXPECT_EQ(c.Id(L"url"), 2);
    EXPECT_EQ(c.Id(L"metadata"), 3);
    EXPECT_EQ(c.Id(L"Play"), 4);
    EXPECT_EQ(c.Id(L"Stop"), 5);
    EXPECT_EQ(c.Id(L"getBufferState"), 6);
    EXPECT_EQ(c.Id(L"getCount"), 7);
    EXPECT_EQ(c.Id(L"GETCOUNT"), 7);
    EXPECT_EQ(c.Id(L"nothing"), DISPID_UNKNOWN);
    UINT count = 0;
    control->GetTypeInfoCount(&count);
    EXPECT_EQ(count, 1u);
}

TEST_F(ControlCom, ANewControlIsEmpty)
{
    CDispatchCaller c(control);
    EXPECT_EQ(c.GetString(L"metadata"), "");
    EXPECT_EQ(c.GetString(L"url"), "");
    EXPECT_EQ(c.CallShort(L"getBufferState"), 0);
}

TEST_F(ControlCom, PlayWithoutUrlDoesNothing)
{
    ConnectSink();
    CDispatchCaller c(control);
    c.Call0(L"Play");
    PumpUntil(nullptr, 500);
    EXPECT_TRUE(sink->events.empty());
    EXPECT_EQ(c.GetString(L"url"), "");
    c.Call0(L"Stop");
}

TEST_F(ControlCom, AStreamUrlIsTheOnlyEntryBeforeAndAfterPlay)
{
    CDispatchCaller c(control);
    c.PutString(L"url", "http://127.0.0.1:9/radio");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/radio");
    c.Call0(L"Play");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/radio");
    c.Call0(L"Stop");
    c.PutString(L"url", "abc");
    EXPECT_EQ(c.GetString(L"url"), "abc");
}

TEST_F(ControlCom, VolumeReadsBackAsA16BitInteger)
{
    CDispatchCaller c(control);
    c.PutShort(L"volume", 40);
    VARIANT v;
    ASSERT_EQ(c.Get(L"volume", &v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_I2);
    // Whether the mixer line or (under Wine) the device keeps it, the value is kept.
    EXPECT_EQ(V_I2(&v), 40);
}

TEST_F(ControlCom, WritingMetadataChangesNothing)
{
    CDispatchCaller c(control);
    c.PutString(L"metadata", "ignored");
    EXPECT_EQ(c.GetString(L"metadata"), "");
}

TEST_F(ControlCom, WrongCallsAreRefused)
{
    CDispatchCaller c(control);
    VARIANT v;
    EXPECT_EQ(c.Call(L"getCount", &v), DISP_E_BADPARAMCOUNT);
    DISPPARAMS none = {NULL, NULL, 0, 0};
    EXPECT_EQ(control->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, &v, NULL, NULL), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ControlCom, BufferStateEventAndItsValueInsideAndAfter)
{
    ConnectSink();
    CDispatchCaller c(control);
    short inside = -1;
    sink->handler = [&](DISPID id) {
        if (id == 1)
            inside = c.CallShort(L"getBufferState");
    };
    SendMessageA(report, KEL_WM_BUFFERSTATE, 57, 0);
    ASSERT_EQ(sink->events, std::vector<DISPID>({1}));
    EXPECT_EQ(inside, 57);
    EXPECT_EQ(c.CallShort(L"getBufferState"), 57);
}

TEST_F(ControlCom, TitleEventTakesThePostedText)
{
    ConnectSink();
    CDispatchCaller c(control);
    std::string inside;
    sink->handler = [&](DISPID id) {
        if (id == 2)
            inside = c.GetString(L"metadata");
    };
    PostMessageA(report, KEL_WM_METADATA, reinterpret_cast<WPARAM>(NewText("Pellora Local")), 0);
    PostMessageA(report, KEL_WM_METADATA, reinterpret_cast<WPARAM>(NewText("Song \xc6\xe7")), 0);
    ASSERT_TRUE(PumpUntil([&] { return sink->events.size() == 2; }, 2000));
    EXPECT_EQ(inside, "Song \xc6\xe7");
    EXPECT_EQ(c.GetString(L"metadata"), "Song \xc6\xe7");
}

TEST_F(ControlCom, StatusTextIsTheMetadataOnlyWhileItsEventRuns)
{
    ConnectSink();
    CDispatchCaller c(control);
    PostMessageA(report, KEL_WM_METADATA, reinterpret_cast<WPARAM>(NewText("Title")), 0);
    ASSERT_TRUE(PumpUntil([&] { return sink->events.size() == 1; }, 2000));
    std::vector<std::string> shown;
    sink->handler = [&](DISPID id) {
        if (id == 2)
            shown.push_back(c.GetString(L"metadata"));
    };
    SendMessageA(report, KEL_WM_MESSAGE, reinterpret_cast<WPARAM>("status text"), 1);
    EXPECT_EQ(shown, std::vector<std::string>({"status text"}));
    EXPECT_EQ(c.GetString(L"metadata"), "Title");
}

TEST_F(ControlCom, StatusTextWithoutTitleLeavesMetadataEmpty)
{
    ConnectSink();
    CDispatchCaller c(control);
    SendMessageA(report, KEL_WM_MESSAGE, reinterpret_cast<WPARAM>("status text"), 0);
    EXPECT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(c.GetString(L"metadata"), "");
}

TEST_F(ControlCom, LevelRule)
{
    ConnectSink();
    CDispatchCaller c(control);
    std::vector<std::string> shown;
    sink->handler = [&](DISPID id) {
        if (id == 2)
            shown.push_back(c.GetString(L"metadata"));
    };
    auto send = [&](const char* text, int level) { SendMessageA(report, KEL_WM_MESSAGE, reinterpret_cast<WPARAM>(text), level); };
    send("three", 3);
    send("one", 1);
    EXPECT_EQ(shown, std::vector<std::string>({"three"}));
    send("three again", 3);
    EXPECT_EQ(shown.back(), "three again");

    c.Call0(L"Stop");
    shown.clear();
    send("zero", 0);
    send("one", 1);
    send("one more", 1);
    send("zero late", 0);
    EXPECT_EQ(shown, std::vector<std::string>({"zero", "one", "one more"}));

    // The worker's stop report runs Stop, which resets the level too.
    SendMessageA(report, KEL_WM_STOP, 0, 0);
    shown.clear();
    send("zero after stop report", 0);
    EXPECT_EQ(shown, std::vector<std::string>({"zero after stop report"}));
}

TEST_F(ControlCom, SeveralSinksEachGetEveryEvent)
{
    ConnectSink();
    CEventSink* second = new CEventSink();
    DWORD secondCookie = second->Connect(control);
    ASSERT_NE(secondCookie, 0u);
    EXPECT_NE(secondCookie, cookie);

    IConnectionPointContainer* container = Query<IConnectionPointContainer>(IID_IConnectionPointContainer);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(container->FindConnectionPoint(sink->eventsIid, &point), S_OK);
    IEnumConnections* connections = nullptr;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    CONNECTDATA data[3];
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        data[i].pUnk->Release();
    connections->Reset();
    EXPECT_EQ(connections->Skip(1), S_OK);
    EXPECT_EQ(connections->Next(1, data, nullptr), S_OK);
    EXPECT_EQ(data[0].dwCookie, secondCookie);
    data[0].pUnk->Release();
    connections->Release();
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* found[2] = {};
    EXPECT_EQ(points->Next(2, found, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    found[0]->Release();
    points->Release();
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &found[1]), CONNECT_E_NOCONNECTION);
    point->Release();
    container->Release();

    SendMessageA(report, KEL_WM_BUFFERSTATE, 5, 0);
    EXPECT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(second->events.size(), 1u);
    second->Disconnect(control, secondCookie);
    SendMessageA(report, KEL_WM_BUFFERSTATE, 6, 0);
    EXPECT_EQ(sink->events.size(), 2u);
    EXPECT_EQ(second->events.size(), 1u);
    second->Release();
}

TEST_F(ControlCom, FrozenEventsAreNotFired)
{
    ConnectSink();
    IOleControl* ole = Query<IOleControl>(IID_IOleControl);
    ole->FreezeEvents(TRUE);
    SendMessageA(report, KEL_WM_BUFFERSTATE, 5, 0);
    ole->FreezeEvents(FALSE);
    SendMessageA(report, KEL_WM_BUFFERSTATE, 6, 0);
    ole->Release();
    EXPECT_EQ(sink->events.size(), 1u);
}

TEST_F(ControlCom, ClassInfoNamesTheEventInterface)
{
    IProvideClassInfo2* info = Query<IProvideClassInfo2>(IID_IProvideClassInfo2);
    GUID events = GUID_NULL;
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(info->GetClassInfo(&coclass), S_OK);
    TYPEATTR* attr = nullptr;
    coclass->GetTypeAttr(&attr);
    CLSID clsid;
    CLSIDFromProgID(KEL_PROGID, &clsid);
    EXPECT_TRUE(IsEqualCLSID(attr->guid, clsid));
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    coclass->ReleaseTypeAttr(attr);
    coclass->Release();
    info->Release();
    EXPECT_FALSE(IsEqualGUID(events, GUID_NULL));
}

TEST_F(ControlCom, LoadsEmptyAndShortStreamsAndKeepsItsExtent)
{
    IPersistStreamInit* persist = Query<IPersistStreamInit>(IID_IPersistStreamInit);
    IStream* empty = nullptr;
    CreateStreamOnHGlobal(NULL, TRUE, &empty);
    EXPECT_EQ(persist->Load(empty), S_OK);
    empty->Release();

    IStream* shortStream = nullptr;
    CreateStreamOnHGlobal(NULL, TRUE, &shortStream);
    shortStream->Write("\x00\x00\x01\x00\x10", 5, NULL);
    LARGE_INTEGER zero = {};
    shortStream->Seek(zero, STREAM_SEEK_SET, NULL);
    EXPECT_EQ(persist->Load(shortStream), S_OK);
    shortStream->Release();

    IOleObject* ole = Query<IOleObject>(IID_IOleObject);
    SIZEL size = {1234, 567};
    ole->SetExtent(DVASPECT_CONTENT, &size);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    IStream* saved = nullptr;
    CreateStreamOnHGlobal(NULL, TRUE, &saved);
    EXPECT_EQ(persist->Save(saved, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    persist->Release();
    ole->Release();

    saved->Seek(zero, STREAM_SEEK_SET, NULL);
    SIZEL loaded = ExtentOfNewControl([&](IDispatch* other) {
        IPersistStreamInit* otherPersist = nullptr;
        other->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&otherPersist));
        EXPECT_EQ(otherPersist->Load(saved), S_OK);
        otherPersist->Release();
    });
    EXPECT_EQ(loaded.cx, 1234);
    EXPECT_EQ(loaded.cy, 567);
    saved->Release();
}

TEST_F(ControlCom, GetCountReturnsTheBody)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET client, const std::string&) {
        s.SendAll(client, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n12345 listeners");
    });
    CDispatchCaller c(control);
    EXPECT_EQ(c.CallString(L"getCount", server.Url("/count")), "12345 listeners");
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(server.Requests()[0].rfind("GET /count HTTP/1.0\r\n", 0), 0u);
}

TEST_F(ControlCom, GetCountOfABadAddressIsEmptyAndReportsWhy)
{
    ConnectSink();
    CDispatchCaller c(control);
    std::vector<std::string> shown;
    sink->handler = [&](DISPID id) {
        if (id == 2)
            shown.push_back(c.GetString(L"metadata"));
    };
    EXPECT_EQ(c.CallString(L"getCount", "ftp://nowhere"), "");
    EXPECT_EQ(shown.size(), 1u);
    // An over-long host name is refused the same way.
    EXPECT_EQ(c.CallString(L"getCount", "http://" + std::string(300, 'h') + "/"), "");
    c.Call0(L"Stop");
    EXPECT_EQ(c.CallString(L"getCount", "http://127.0.0.1:1/" + std::string(1100, 'p')), "");
    EXPECT_EQ(shown.size(), 3u);
    if (shown.size() == 3u) {
        EXPECT_EQ(shown[1], shown[0]);
    }
}

TEST_F(ControlCom, PlaylistEntriesArePlayedInTurn)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET client, const std::string&) {
        s.SendAll(client, "HTTP/1.0 200 OK\r\n\r\n[playlist]\r\nNumberOfEntries=3\r\nFile1=http://127.0.0.1:9/a\r\n"
                          "File2=http://127.0.0.1:9/b\r\nFile3=http://127.0.0.1:9/c");
    });
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/list.PLS"));
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/a");
    c.Call0(L"Play");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/b");
    c.Call0(L"Play");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/c");
    c.Call0(L"Play");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/a");
    c.Call0(L"Stop");
    // After Stop an end report is ignored; without it, the next entry starts.
    SendMessageA(report, KEL_WM_ENDED, 0, 0);
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/a");
}

TEST_F(ControlCom, ABadPlaylistEmptiesTheList)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET client, const std::string&) {
        s.SendAll(client, "HTTP/1.0 200 OK\r\n\r\nnot a playlist");
    });
    ConnectSink();
    CDispatchCaller c(control);
    std::vector<std::string> shown;
    sink->handler = [&](DISPID id) {
        if (id == 2)
            shown.push_back(c.GetString(L"metadata"));
    };
    c.PutString(L"url", "http://127.0.0.1:9/stream");
    c.PutString(L"url", server.Url("/x.pls"));
    EXPECT_EQ(c.GetString(L"url"), "");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "\xbf\xc3\xb9\xd9\xb8\xa5 PLS \xc6\xc4\xc0\xcf\xc0\xcc \xbe\xc6\xb4\xd5\xb4\xcf\xb4\xd9.");
}

TEST_F(ControlCom, InPlaceActivationKeepsReportsComing)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "KelTestContainer";
    RegisterClassA(&wc);
    HWND frame = CreateWindowA("KelTestContainer", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL, wc.hInstance, NULL);
    ASSERT_NE(frame, nullptr);
    CTestSite* site = new CTestSite(frame);
    IOleObject* ole = Query<IOleObject>(IID_IOleObject);
    ole->SetClientSite(site);
    RECT rect = {0, 0, 120, 40};
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, NULL, site, 0, frame, &rect), S_OK);
    EXPECT_EQ(site->activations, 1);
    IOleInPlaceObject* inPlace = Query<IOleInPlaceObject>(IID_IOleInPlaceObject);
    HWND visible = NULL;
    EXPECT_EQ(inPlace->GetWindow(&visible), S_OK);
    EXPECT_EQ(GetParent(visible), frame);
    EXPECT_EQ(FindReportWindow(), report);

    ConnectSink();
    SendMessageA(report, KEL_WM_BUFFERSTATE, 9, 0);
    EXPECT_EQ(sink->events.size(), 1u);

    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site->deactivations, 1);
    EXPECT_FALSE(IsWindow(visible));
    inPlace->Release();
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(NULL);
    ole->Release();
    site->Release();
    DestroyWindow(frame);
}

TEST(ControlLifetime, ReleasingAnIdleControlIsQuick)
{
    CComScope com;
    IDispatch* control = CreateControl();
    ASSERT_NE(control, nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(control->Release(), 0u);
    EXPECT_LT(GetTickCount() - start, 200u);
    EXPECT_EQ(FindReportWindow(), nullptr);
}

TEST(ControlLifetime, PropertyPageShowsItsDialog)
{
    CComScope com;
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(KEL_PAGE_PROGID, &clsid), S_OK);
    IPropertyPage* page = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IPropertyPage, reinterpret_cast<void**>(&page)), S_OK);
    PROPPAGEINFO info = {};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(Utf8FromWide(info.pszTitle), "General");
    EXPECT_GT(info.size.cx, 0);
    CoTaskMemFree(info.pszTitle);
    HWND parent = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, NULL, NULL, NULL, NULL);
    RECT rect = {0, 0, 300, 100};
    ASSERT_EQ(page->Activate(parent, &rect, TRUE), S_OK);
    HWND dialog = FindWindowExA(parent, NULL, NULL, NULL);
    ASSERT_NE(dialog, nullptr);
    char text[200] = "";
    GetWindowTextA(FindWindowExA(dialog, NULL, "Static", NULL), text, sizeof(text));
    EXPECT_STREQ(text, "TODO: Place controls to manipulate properties of Kelplayer Control on this dialog.");
    EXPECT_EQ(page->Deactivate(), S_OK);
    page->Release();
    DestroyWindow(parent);
}

// Wine's ATL host window, a container none of us wrote.
TEST(ControlInAtlHost, HostsTheControlByProgIdAndDeliversEvents)
{
    CComScope com;
    HMODULE atl = LoadLibraryA("atl.dll");
    ASSERT_NE(atl, nullptr);
    typedef BOOL(WINAPI * AxWinInitFn)();
    typedef HRESULT(WINAPI * AxGetControlFn)(HWND, IUnknown**);
    AxWinInitFn axWinInit = reinterpret_cast<AxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    AxGetControlFn axGetControl =
        reinterpret_cast<AxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(axWinInit != nullptr && axGetControl != nullptr);
    ASSERT_TRUE(axWinInit());

    HWND frame = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
    HWND host = CreateWindowA("AtlAxWin", "KELPLAYERX.KelPlayerCtrl.1", WS_CHILD | WS_VISIBLE, 0, 0, 200, 50, frame,
                              NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(host, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(axGetControl(host, &unknown), S_OK);
    IDispatch* control = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control)), S_OK);

    CEventSink* sink = new CEventSink();
    DWORD cookie = sink->Connect(unknown);
    ASSERT_NE(cookie, 0u);
    CDispatchCaller c(control);
    short inside = -1;
    sink->handler = [&](DISPID id) {
        if (id == 1)
            inside = c.CallShort(L"getBufferState");
    };
    c.PutString(L"url", "http://127.0.0.1:9/");
    EXPECT_EQ(c.GetString(L"url"), "http://127.0.0.1:9/");
    // The host activates the control in place: its visible window is the host's child, while
    // the reports keep going to the message-only window.
    EXPECT_NE(FindWindowExA(host, NULL, "KelplayerxControlWindow", NULL), nullptr);
    HWND report = FindReportWindow();
    ASSERT_NE(report, nullptr);
    PostMessageA(report, KEL_WM_BUFFERSTATE, 42, 0);
    EXPECT_TRUE(PumpUntil([&] { return !sink->events.empty(); }, 2000));
    EXPECT_EQ(inside, 42);

    sink->Disconnect(unknown, cookie);
    sink->Release();
    control->Release();
    unknown->Release();
    DestroyWindow(host);
    DestroyWindow(frame);
    EXPECT_TRUE(PumpUntil([] { return FindReportWindow() == nullptr; }, 2000)) << "the host released the control";
}

// The module stays loaded while an object or a server lock lives.
TEST(ControlModule, CanUnloadOnlyWithoutObjectsFactoriesAndLocks)
{
    CComScope com;
    std::string path = std::string("Z:") + KEL_OCX_PATH;
    for (char& ch : path)
        ch = ch == '/' ? '\\' : ch;
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_NE(module, nullptr);
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE * CanUnloadFn)();
    GetClassObjectFn getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    CanUnloadFn canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject != nullptr && canUnload != nullptr);
    EXPECT_EQ(canUnload(), S_OK);

    CLSID clsid;
    CLSIDFromProgID(KEL_PROGID, &clsid);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    // A factory handed out holds the module, without LockServer too.
    EXPECT_EQ(canUnload(), S_FALSE);
    IClassFactory* none = nullptr;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, reinterpret_cast<void**>(&none)), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&object)), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(NULL, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    object->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->AddRef();
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);

    // A lock outlives the factory it was taken through.
    ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(getClassObject(clsid, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);
    FreeLibrary(module);
}

TEST_F(ControlCom, PropertyBagsKeepVersionAndExtent)
{
    IPersistPropertyBag* persist = Query<IPersistPropertyBag>(IID_IPersistPropertyBag);
    CMemoryBag empty;
    EXPECT_EQ(persist->Load(&empty, NULL), S_OK);

    IOleObject* ole = Query<IOleObject>(IID_IOleObject);
    SIZEL size = {2222, 333};
    ole->SetExtent(DVASPECT_CONTENT, &size);
    ole->Release();
    CMemoryBag saved;
    EXPECT_EQ(persist->Save(&saved, TRUE, TRUE), S_OK);
    persist->Release();
    ASSERT_EQ(saved.values.count(L"_Version"), 1u);
    EXPECT_EQ(V_I4(&saved.values[L"_Version"]), 0x10000);
    EXPECT_EQ(V_I4(&saved.values[L"_ExtentX"]), 2222);

    SIZEL loaded = ExtentOfNewControl([&](IDispatch* other) {
        IPersistPropertyBag* otherPersist = nullptr;
        other->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&otherPersist));
        EXPECT_EQ(otherPersist->Load(&saved, NULL), S_OK);
        otherPersist->Release();
    });
    EXPECT_EQ(loaded.cx, 2222);
    EXPECT_EQ(loaded.cy, 333);
}
