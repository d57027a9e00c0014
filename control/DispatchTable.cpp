// The members of a dispinterface read from its ITypeInfo, and Invoke argument checks against them.
#include "DispatchTable.h"

HRESULT CDispatchTable::Load(ITypeInfo* typeInfo)
{
    TYPEATTR* attr = NULL;
    HRESULT hr = typeInfo->GetTypeAttr(&attr);
    if (FAILED(hr))
        return hr;
    m_members.clear();
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* var = NULL;
        if (FAILED(typeInfo->GetVarDesc(i, &var)))
            continue;
        CDispMember member;
        member.id = var->memid;
        member.isProperty = true;
        member.readOnly = (var->wVarFlags & VARFLAG_FREADONLY) != 0;
        member.type = var->elemdescVar.tdesc.vt;
        m_members.push_back(member);
        typeInfo->ReleaseVarDesc(var);
    }
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = NULL;
        if (FAILED(typeInfo->GetFuncDesc(i, &func)))
            continue;
        // The IDispatch methods that a dispinterface inherits are not ours to dispatch.
        if (func->memid < 0x60000000 || func->memid > 0x6002FFFF) {
            CDispMember member;
            member.id = func->memid;
            member.isProperty = false;
            member.readOnly = false;
            member.type = func->elemdescFunc.tdesc.vt == VT_VOID ? VARTYPE(VT_EMPTY) : func->elemdescFunc.tdesc.vt;
            for (SHORT p = 0; p < func->cParams; ++p)
                member.params.push_back(func->lprgelemdescParam[p].tdesc.vt);
            m_members.push_back(member);
        }
        typeInfo->ReleaseFuncDesc(func);
    }
    typeInfo->ReleaseTypeAttr(attr);
    return S_OK;
}

const CDispMember* CDispatchTable::Find(DISPID id) const
{
    for (const CDispMember& member : m_members) {
        if (member.id == id)
            return &member;
    }
    return NULL;
}

HRESULT CDispatchTable::PrepareCall(const CDispMember& member, WORD flags, DISPPARAMS* params, EDispKind* kind,
                                    std::vector<VARIANT>* args, UINT* argError) const
{
    static DISPPARAMS none = {NULL, NULL, 0, 0};
    if (params == NULL)
        params = &none;
    std::vector<VARTYPE> types;
    if (member.isProperty) {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (member.readOnly)
                return DISP_E_MEMBERNOTFOUND;
            if (params->cArgs != 1)
                return DISP_E_BADPARAMCOUNT;
            if (params->cNamedArgs > 1 || (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
                return DISP_E_PARAMNOTFOUND;
            *kind = DISP_KIND_PUT;
            types.push_back(member.type);
        } else if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
            if (params->cArgs != 0)
                return DISP_E_BADPARAMCOUNT;
            *kind = DISP_KIND_GET;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
    } else {
        // Script hosts read a method with a result as a property get.
        if (!(flags & DISPATCH_METHOD) && !((flags & DISPATCH_PROPERTYGET) && member.type != VT_EMPTY))
            return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
        if (params->cArgs != member.params.size())
            return DISP_E_BADPARAMCOUNT;
        *kind = DISP_KIND_CALL;
        types = member.params;
    }

    args->assign(types.size(), VARIANT());
    for (VARIANT& v : *args)
        VariantInit(&v);
    for (size_t i = 0; i < types.size(); ++i) {
        // Arguments come last first.
        UINT position = static_cast<UINT>(types.size() - 1 - i);
        HRESULT hr = VariantChangeType(&(*args)[i], &params->rgvarg[position], 0, types[i]);
        if (FAILED(hr)) {
            ClearVariants(args);
            if (argError != NULL)
                *argError = position;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

void ClearVariants(std::vector<VARIANT>* variants)
{
    for (VARIANT& v : *variants)
        VariantClear(&v);
    variants->clear();
}
