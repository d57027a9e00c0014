// The members of a dispinterface as its type information describes them, and the checking and
// coercion of IDispatch::Invoke arguments against them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

struct CDispMember
{
    DISPID id;
    bool isProperty;
    bool readOnly;
    VARTYPE type; // the property's type, or the method's result (VT_EMPTY for none)
    std::vector<VARTYPE> params;
};

// What the object is asked to do, with arguments already in their declared types, in order.
enum EDispKind
{
    DISP_KIND_GET,
    DISP_KIND_PUT,
    DISP_KIND_CALL,
};

class CDispatchTable
{
public:
    // Reads every property and method of the dispinterface's type information.
    HRESULT Load(ITypeInfo* typeInfo);
    const CDispMember* Find(DISPID id) const;

    // Checks flags and argument counts, coerces the arguments (given in reverse order in params)
    // into args in declared order. Returns S_OK and the kind, or the IDispatch error to return.
    HRESULT PrepareCall(const CDispMember& member, WORD flags, DISPPARAMS* params, EDispKind* kind,
                        std::vector<VARIANT>* args, UINT* argError) const;

private:
    std::vector<CDispMember> m_members;
};

// Clears every variant of a list.
void ClearVariants(std::vector<VARIANT>* variants);
