// The ITypeInfo objects over the type library data: attributes, function
// descriptions with argument types and defaults, names, documentation, ids
// of names, invocation, and the class's link to its interface.
#include "script_object/type_info_object.h"

#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/olert/automation.h"
#include "script_object/com_server.h"
#include "script_object/dispatch_invoke.h"
#include "script_object/type_library.h"

namespace olert {
template <>
struct InterfaceId<ITypeInfo> {
  static const IID& Get() { return IID_ITypeInfo; }
};
}  // namespace olert

namespace quill {

namespace {

// Reference handles of the types the descriptions point to.
constexpr HREFTYPE kRefIDispatch = 1;
constexpr HREFTYPE kRefIQuill2 = 2;  // the class's default interface
constexpr HREFTYPE kRefIQuill = 3;   // the base of IQuill2

constexpr WORD kDispatchSlots = 7;

// One FUNCDESC and the arrays it points to, freed together. The FUNCDESC
// handed out is converted back to its block, which needs a standard-layout
// block; the arrays are plain owning pointers because std::unique_ptr is not
// standard-layout with every compiler (clang's view of libstdc++'s).
struct FuncDescBlock {
  FUNCDESC desc;
  ELEMDESC* params = nullptr;        // new[]
  PARAMDESCEX* defaults = nullptr;   // new[]; the first `count` initialised
  size_t count = 0;

  FuncDescBlock() = default;
  FuncDescBlock(const FuncDescBlock&) = delete;
  FuncDescBlock& operator=(const FuncDescBlock&) = delete;
  ~FuncDescBlock() {
    for (size_t i = 0; i < count; ++i) VariantClear(&defaults[i].varDefaultValue);
    delete[] defaults;
    delete[] params;
  }
};
static_assert(std::is_standard_layout_v<FuncDescBlock>);

BSTR AllocAscii(const char* text) {
  std::u16string wide;
  for (const char* p = text; *p != '\0'; ++p) wide.push_back(static_cast<unsigned char>(*p));
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

class TQuillTypeInfo final : public olert::RefCounted<ITypeInfo> {
 public:
  // Interface describes IQuill2 (every member), Interface1 IQuill alone.
  enum class Kind { Interface, Interface1, Class };

  explicit TQuillTypeInfo(Kind kind) : kind_(kind) { TComServer::Instance().ObjectCreated(); }
  ~TQuillTypeInfo() override { TComServer::Instance().ObjectDestroyed(); }

  HRESULT GetTypeAttr(TYPEATTR** out) override {
    if (out == nullptr) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TYPEATTR;
    if (attr == nullptr) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memset(attr, 0, sizeof(*attr));
    attr->lcid = kTypeLibrary.Locale;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbSizeInstance = sizeof(void*);
    attr->cbAlignment = alignof(void*);
    attr->wMajorVerNum = kTypeLibrary.MajorVersion;
    attr->wMinorVerNum = kTypeLibrary.MinorVersion;
    attr->cImplTypes = 1;
    if (IsInterface()) {
      attr->guid = kind_ == Kind::Interface ? IID_IQuill2 : IID_IQuill;
      attr->typekind = TKIND_DISPATCH;
      attr->cFuncs = static_cast<WORD>(Members().size());
      attr->cbSizeVft = kDispatchSlots * sizeof(void*);
      attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    } else {
      attr->guid = CLSID_Quill;
      attr->typekind = TKIND_COCLASS;
      attr->wTypeFlags = TYPEFLAG_FCANCREATE;
    }
    *out = attr;
    return S_OK;
  }

  HRESULT GetTypeComp(ITypeComp** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    const auto members = Members();
    if (!IsInterface() || index >= members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const TMemberInfo& m = members[index];
    try {
      auto block = std::make_unique<FuncDescBlock>();
      std::memset(&block->desc, 0, sizeof(block->desc));
      const size_t n = m.Params.size();
      block->params = new ELEMDESC[n > 0 ? n : 1]();
      block->defaults = new PARAMDESCEX[n > 0 ? n : 1]();
      for (size_t i = 0; i < n; ++i) {
        VariantInit(&block->defaults[i].varDefaultValue);
      }
      block->count = n;
      for (size_t i = 0; i < n; ++i) {
        const TParamInfo& p = m.Params[i];
        ELEMDESC& e = block->params[i];
        std::memset(&e, 0, sizeof(e));
        e.tdesc.vt = p.Type;
        e.paramdesc.wParamFlags = PARAMFLAG_FIN;
        if (p.Use == TParamUse::OptionalNoDefault) e.paramdesc.wParamFlags |= PARAMFLAG_FOPT;
        if (p.Use == TParamUse::Default) {
          e.paramdesc.wParamFlags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
          PARAMDESCEX& ex = block->defaults[i];
          ex.cBytes = sizeof(PARAMDESCEX);
          MakeDefaultValue(p, &ex.varDefaultValue);
          e.paramdesc.pparamdescex = &ex;
        }
      }
      FUNCDESC& d = block->desc;
      d.memid = m.Id;
      d.lprgelemdescParam = n > 0 ? block->params : nullptr;
      d.funckind = FUNC_DISPATCH;
      d.invkind = m.Kind == TMemberKind::PropertyGet ? INVOKE_PROPERTYGET : INVOKE_FUNC;
      d.callconv = CC_STDCALL;
      d.cParams = static_cast<SHORT>(n);
      d.oVft = static_cast<SHORT>((kDispatchSlots + m.VtableSlot) * sizeof(void*));
      d.elemdescFunc.tdesc.vt = m.ResultType == VT_EMPTY ? VT_VOID : m.ResultType;
      *out = &block.release()->desc;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT GetVarDesc(UINT, VARDESC** out) override {
    if (out != nullptr) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
    if (names == nullptr || count == nullptr) return E_INVALIDARG;
    *count = 0;
    if (!IsInterface()) return TYPE_E_ELEMENTNOTFOUND;
    const TMemberInfo* m = Find(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    if (max == 0) return S_OK;
    names[(*count)++] = AllocAscii(m->Name);
    for (const TParamInfo& p : m->Params) {
      if (*count >= max) break;
      names[(*count)++] = AllocAscii(p.Name);
    }
    return S_OK;
  }

  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override {
    if (out == nullptr) return E_INVALIDARG;
    if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
    *out = kind_ == Kind::Interface ? kRefIQuill : kind_ == Kind::Interface1 ? kRefIDispatch
                                                                               : kRefIQuill2;
    return S_OK;
  }

  HRESULT GetImplTypeFlags(UINT index, INT* out) override {
    if (out == nullptr) return E_INVALIDARG;
    if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
    *out = kind_ == Kind::Class ? IMPLTYPEFLAG_FDEFAULT : 0;
    return S_OK;
  }

  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (!IsInterface()) {
      if (names == nullptr || ids == nullptr) return E_INVALIDARG;
      for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
      return DISP_E_UNKNOWNNAME;
    }
    const HRESULT hr = QuillGetIDsOfNames(names, count, ids);
    // IQuill does not know the names its extension added.
    if (kind_ == Kind::Interface1 && count > 0 && ids != nullptr && Find(ids[0]) == nullptr &&
        ids[0] != DISPID_UNKNOWN) {
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_error) override {
    if (!IsInterface()) return E_NOTIMPL;
    if (Find(memid) == nullptr) return DISP_E_MEMBERNOTFOUND;
    return QuillInvoke(static_cast<IQuill*>(instance), memid, flags, params, result, excep,
                       arg_error);
  }

  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override {
    const char* name_text = nullptr;
    const char* doc_text = nullptr;
    if (memid == MEMBERID_NIL) {
      name_text = kind_ == Kind::Interface    ? kInterface2Name
                  : kind_ == Kind::Interface1 ? kInterfaceName
                                              : kClassName;
      doc_text = kind_ == Kind::Interface    ? kInterface2Help
                 : kind_ == Kind::Interface1 ? kInterfaceHelp
                                             : kClassDescription;
    } else if (const TMemberInfo* m = IsInterface() ? Find(memid) : nullptr) {
      name_text = m->Name;
      doc_text = m->HelpString;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (name != nullptr) *name = AllocAscii(name_text);
    if (doc != nullptr) *doc = AllocAscii(doc_text);
    if (help_context != nullptr) *help_context = 0;
    if (help_file != nullptr) *help_file = nullptr;  // the library has no help file
    return S_OK;
  }

  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) override {
    if (dll != nullptr) *dll = nullptr;
    if (name != nullptr) *name = nullptr;
    if (ordinal != nullptr) *ordinal = 0;
    return E_NOTIMPL;
  }

  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (ref == kRefIQuill2 && kind_ == Kind::Class) {
      *out = NewQuillTypeInfo();
      return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    if (ref == kRefIQuill && kind_ == Kind::Interface) {
      *out = new (std::nothrow) TQuillTypeInfo(Kind::Interface1);
      return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    // IDispatch is described by the standard automation library, which
    // this platform does not provide.
    if (ref == kRefIDispatch && kind_ == Kind::Interface1) return TYPE_E_CANTLOADLIBRARY;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (kind_ != Kind::Class) return E_NOTIMPL;
    TAutoObjectFactory* factory = TComServer::Instance().FindFactory(CLSID_Quill);
    if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->CreateInstance(outer, riid, out);
  }

  HRESULT GetMops(MEMBERID, BSTR* out) override {
    if (out != nullptr) *out = nullptr;
    return S_OK;
  }

  HRESULT GetContainingTypeLib(ITypeLib** out, UINT* index) override {
    if (out != nullptr) *out = nullptr;
    if (index != nullptr) *index = 0;
    return E_NOTIMPL;
  }

  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

  void ReleaseFuncDesc(FUNCDESC* desc) override {
    if (desc != nullptr) delete reinterpret_cast<FuncDescBlock*>(desc);
  }

  void ReleaseVarDesc(VARDESC*) override {}

 private:
  bool IsInterface() const { return kind_ != Kind::Class; }
  std::span<const TMemberInfo> Members() const {
    return QuillMembers(kind_ == Kind::Interface ? TInterfaceVersion::IQuill2
                                                 : TInterfaceVersion::IQuill);
  }
  // The member `id` of this interface, or null.
  const TMemberInfo* Find(MEMBERID id) const {
    for (const TMemberInfo& m : Members()) {
      if (m.Id == id) return &m;
    }
    return nullptr;
  }

  const Kind kind_;
};

}  // namespace

ITypeInfo* NewQuillTypeInfo() {
  return new (std::nothrow) TQuillTypeInfo(TQuillTypeInfo::Kind::Interface);
}

ITypeInfo* NewQuillClassInfo() {
  return new (std::nothrow) TQuillTypeInfo(TQuillTypeInfo::Kind::Class);
}

}  // namespace quill
