// A property page object showing one dialog template of the module.
#include "PropertyPage.h"

#include "Bstr.h"
#include "Module.h"

CPropertyPage::CPropertyPage(UINT dialogId, UINT captionId)
    : m_refs(1), m_dialogId(dialogId), m_captionId(captionId), m_hWnd(NULL)
{
    CModule::Lock();
}

CPropertyPage::~CPropertyPage()
{
    Deactivate();
    CModule::Unlock();
}

INT_PTR CALLBACK CPropertyPage::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)hwnd;
    (void)wParam;
    (void)lParam;
    return message == WM_INITDIALOG;
}

STDMETHODIMP CPropertyPage::QueryInterface(REFIID iid, void** object)
{
    if (object == NULL)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPage)) {
        *object = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *object = NULL;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CPropertyPage::AddRef() { return ++m_refs; }

STDMETHODIMP_(ULONG) CPropertyPage::Release()
{
    LONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CPropertyPage::SetPageSite(IPropertyPageSite* site)
{
    m_pSite.Assign(site);
    return S_OK;
}

STDMETHODIMP CPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL modal)
{
    (void)modal;
    if (m_hWnd != NULL)
        return S_OK;
    m_hWnd = CreateDialogParamA(CModule::Instance(), MAKEINTRESOURCEA(m_dialogId), parent, DialogProc, 0);
    if (m_hWnd == NULL)
        return E_FAIL;
    if (rect != NULL)
        Move(rect);
    return S_OK;
}

STDMETHODIMP CPropertyPage::Deactivate()
{
    if (m_hWnd != NULL) {
        DestroyWindow(m_hWnd);
        m_hWnd = NULL;
    }
    return S_OK;
}

STDMETHODIMP CPropertyPage::GetPageInfo(PROPPAGEINFO* info)
{
    if (info == NULL)
        return E_POINTER;
    // The dialog's size in pixels, from its template in dialog units.
    HRSRC found = FindResourceA(CModule::Instance(), MAKEINTRESOURCEA(m_dialogId), reinterpret_cast<LPCSTR>(RT_DIALOG));
    const DLGTEMPLATE* dialog =
        found != NULL ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(CModule::Instance(), found))) : NULL;
    RECT size = {0, 0, dialog != NULL ? dialog->cx : 0, dialog != NULL ? dialog->cy : 0};
    LONG units = GetDialogBaseUnits();
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = TaskStringFromAnsi(CModule::LoadText(m_captionId).c_str());
    info->size.cx = MulDiv(size.right, LOWORD(units), 4);
    info->size.cy = MulDiv(size.bottom, HIWORD(units), 8);
    info->pszDocString = NULL;
    info->pszHelpFile = NULL;
    info->dwHelpContext = 0;
    return S_OK;
}

STDMETHODIMP CPropertyPage::SetObjects(ULONG count, IUnknown** objects)
{
    // The page exchanges no property, so it keeps no object.
    (void)count;
    (void)objects;
    return S_OK;
}

STDMETHODIMP CPropertyPage::Show(UINT command)
{
    if (m_hWnd == NULL)
        return E_UNEXPECTED;
    ShowWindow(m_hWnd, command);
    return S_OK;
}

STDMETHODIMP CPropertyPage::Move(LPCRECT rect)
{
    if (rect == NULL)
        return E_POINTER;
    if (m_hWnd == NULL)
        return E_UNEXPECTED;
    MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CPropertyPage::IsPageDirty() { return S_FALSE; }

STDMETHODIMP CPropertyPage::Apply() { return S_OK; }

STDMETHODIMP CPropertyPage::Help(LPCOLESTR helpDir)
{
    (void)helpDir;
    return E_NOTIMPL;
}

STDMETHODIMP CPropertyPage::TranslateAccelerator(MSG* msg)
{
    (void)msg;
    return S_FALSE;
}
