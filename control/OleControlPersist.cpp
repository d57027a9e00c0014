// The control base's persistence: a version number and the extent, in streams and property bags.
#include "OleControl.h"

#include "ComPtr.h"

namespace
{
// Reads up to size bytes; a short stream leaves the rest as it was.
ULONG ReadSome(IStream* stream, void* buffer, ULONG size)
{
    ULONG got = 0;
    if (FAILED(stream->Read(buffer, size, &got)))
        return 0;
    return got;
}

bool ReadBagLong(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, LONG* value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    bool ok = SUCCEEDED(bag->Read(name, &v, log)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4));
    if (ok)
        *value = V_I4(&v);
    VariantClear(&v);
    return ok;
}

HRESULT WriteBagLong(IPropertyBag* bag, const wchar_t* name, LONG value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return bag->Write(name, &v);
}
} // namespace

STDMETHODIMP COleControl::GetClassID(CLSID* clsid)
{
    if (clsid == NULL)
        return E_POINTER;
    *clsid = *m_info.clsid;
    return S_OK;
}

STDMETHODIMP COleControl::IsDirty() { return m_bModified ? S_OK : S_FALSE; }

STDMETHODIMP COleControl::InitNew()
{
    SetModifiedFlag(false);
    return S_OK;
}

// Stream layout: the version (major in the high word), then the extent's width and height.
STDMETHODIMP COleControl::Load(LPSTREAM stream)
{
    if (stream == NULL)
        return E_POINTER;
    DWORD version = 0;
    LONG size[2] = {m_extent.cx, m_extent.cy};
    // Older, empty or short data loads as far as it goes.
    if (ReadSome(stream, &version, sizeof(version)) == sizeof(version) &&
        ReadSome(stream, size, sizeof(size)) == sizeof(size) && size[0] >= 0 && size[1] >= 0) {
        m_extent.cx = size[0];
        m_extent.cy = size[1];
    }
    SetModifiedFlag(false);
    return S_OK;
}

STDMETHODIMP COleControl::Save(LPSTREAM stream, BOOL clearDirty)
{
    if (stream == NULL)
        return E_POINTER;
    DWORD data[3] = {static_cast<DWORD>(m_info.versionMajor) << 16 | m_info.versionMinor,
                     static_cast<DWORD>(m_extent.cx), static_cast<DWORD>(m_extent.cy)};
    HRESULT hr = stream->Write(data, sizeof(data), NULL);
    if (SUCCEEDED(hr) && clearDirty)
        SetModifiedFlag(false);
    return hr;
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* size)
{
    if (size == NULL)
        return E_POINTER;
    size->QuadPart = 3 * sizeof(DWORD);
    return S_OK;
}

STDMETHODIMP COleControl::Load(IPropertyBag* bag, IErrorLog* log)
{
    if (bag == NULL)
        return E_POINTER;
    LONG cx = m_extent.cx;
    LONG cy = m_extent.cy;
    if (ReadBagLong(bag, log, L"_ExtentX", &cx) && ReadBagLong(bag, log, L"_ExtentY", &cy) && cx >= 0 && cy >= 0) {
        m_extent.cx = cx;
        m_extent.cy = cy;
    }
    SetModifiedFlag(false);
    return S_OK;
}

STDMETHODIMP COleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll)
{
    (void)saveAll;
    if (bag == NULL)
        return E_POINTER;
    HRESULT hr = WriteBagLong(bag, L"_Version", static_cast<LONG>(m_info.versionMajor) << 16 | m_info.versionMinor);
    if (SUCCEEDED(hr))
        hr = WriteBagLong(bag, L"_ExtentX", m_extent.cx);
    if (SUCCEEDED(hr))
        hr = WriteBagLong(bag, L"_ExtentY", m_extent.cy);
    if (SUCCEEDED(hr) && clearDirty)
        SetModifiedFlag(false);
    return hr;
}
