// Owner of one BSTR, and the conversions between BSTRs and ANSI text (code page CP_ACP).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

class CBstr
{
public:
    CBstr() : m_bstr(NULL) {}
    explicit CBstr(const wchar_t* text) : m_bstr(SysAllocString(text)) {}
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_bstr; }
    BSTR* Out()
    {
        SysFreeString(m_bstr);
        m_bstr = NULL;
        return &m_bstr;
    }
    // Hands the string over to the caller.
    BSTR Detach()
    {
        BSTR b = m_bstr;
        m_bstr = NULL;
        return b;
    }

private:
    BSTR m_bstr;
};

// The text of a BSTR in the ANSI code page; a null BSTR is the empty text.
std::string AnsiFromBstr(BSTR text);
// An address as the engine takes it: ASCII as it is, every other character percent-encoded as
// UTF-8, as browsers send it (never a best-fit ANSI character, which names another resource).
std::string AddressFromBstr(BSTR text);
// A new BSTR holding ANSI text; a null text gives an empty string.
BSTR BstrFromAnsi(const char* text);
// A new BSTR holding one of the control's own status texts, which are code page 949 bytes
// whatever the system's code page is.
BSTR BstrFromStatusText(const char* text);
// A new BSTR holding a station's name or title: read as UTF-8 where its bytes are UTF-8, else
// as ANSI text.
BSTR BstrFromStationText(const char* text);
// A new CoTaskMem wide copy of ANSI text (for OLE out-parameters).
LPOLESTR TaskStringFromAnsi(const char* text);
