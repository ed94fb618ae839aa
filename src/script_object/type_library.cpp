// The member table of IQuill and the thunks that call each member on the
// vtable with arguments already converted to their declared types.
#include "script_object/type_library.h"

#include <cassert>

#include "platform/olert/automation.h"

namespace quill {

namespace {

constexpr TParamUse kReq = TParamUse::Required;
constexpr TParamUse kDef = TParamUse::Default;
constexpr TParamUse kOpt = TParamUse::OptionalNoDefault;

// The connection arguments of Server and Connection.
constexpr TParamInfo kServerParams[] = {
    {"Host", VT_BSTR, kDef, u"", 0},         {"Username", VT_BSTR, kDef, u"root", 0},
    {"Password", VT_BSTR, kDef, u"", 0},     {"Port", VT_UI4, kDef, nullptr, 3306},
    {"DB", VT_BSTR, kDef, u"", 0},           {"Compression", VT_BOOL, kDef, nullptr, 0},
    {"Options", VT_UINT, kDef, nullptr, 0},
};
// Connect reconnects to the local server by default.
constexpr TParamInfo kConnectParams[] = {
    {"Host", VT_BSTR, kDef, u"localhost", 0}, {"Username", VT_BSTR, kDef, u"root", 0},
    {"Password", VT_BSTR, kDef, u"", 0},      {"Port", VT_UI4, kDef, nullptr, 3306},
    {"DB", VT_BSTR, kDef, u"", 0},            {"Compression", VT_BOOL, kDef, nullptr, 0},
    {"Options", VT_UINT, kDef, nullptr, 0},
};
constexpr TParamInfo kDatasetParams[] = {
    {"Name", VT_BSTR, kDef, u"", 0},       {"Table", VT_BSTR, kDef, u"", 0},
    {"AutoOpen", VT_BOOL, kDef, nullptr, 0}, {"Master", VT_BSTR, kDef, u"", 0},
    {"Condition", VT_BSTR, kDef, u"", 0},
};
constexpr TParamInfo kLinkParams[] = {
    {"Detail", VT_BSTR, kReq, nullptr, 0},
    {"Master", VT_BSTR, kReq, nullptr, 0},
    {"Condition", VT_BSTR, kReq, nullptr, 0},
};
constexpr TParamInfo kUnLinkParams[] = {{"Detail", VT_BSTR, kReq, nullptr, 0}};
constexpr TParamInfo kContentParams[] = {
    {"Name", VT_BSTR, kDef, u"", 0},
    {"IsFile", VT_BOOL, kDef, nullptr, 0},
    {"HTML", VT_BSTR, kDef, kDefaultContentHTML, 0},
};
constexpr TParamInfo kContentTableParams[] = {
    {"Name", VT_BSTR, kReq, nullptr, 0},
    {"IsFile", VT_BOOL, kDef, nullptr, 0},
    {"HTMLHead", VT_BSTR, kDef, kDefaultTableHead, 0},
    {"HTMLBody", VT_BSTR, kDef, kDefaultTableBody, 0},
    {"HTMLFoot", VT_BSTR, kDef, kDefaultTableFoot, 0},
};
constexpr TParamInfo kExecuteParams[] = {
    {"Action", VT_BSTR, kDef, u"Next", 0},
    {"Name", VT_BSTR, kDef, u"", 0},
    {"Fields", VT_BSTR, kDef, u"", 0},
    {"Values", VT_VARIANT, kOpt, nullptr, 0},
};
constexpr TParamInfo kOnStartPageParams[] = {{"AScriptingContext", VT_UNKNOWN, kReq, nullptr, 0}};
constexpr TParamInfo kExecSQLParams[] = {
    {"SQL", VT_BSTR, kDef, u"", 0},           {"Host", VT_BSTR, kDef, u"localhost", 0},
    {"Username", VT_BSTR, kDef, u"root", 0},  {"Password", VT_BSTR, kDef, u"", 0},
    {"Port", VT_UI4, kDef, nullptr, 3306},    {"DB", VT_BSTR, kDef, u"", 0},
    {"Compression", VT_BOOL, kDef, nullptr, 0}, {"Options", VT_UINT, kDef, nullptr, 0},
};
constexpr TParamInfo kFormatDateTimeParams[] = {
    {"Format", VT_BSTR, kDef, u"YYYY-MM-DD HH:NN:SS", 0},
    {"DateTime", VT_DATE, kDef, nullptr, 0},
};

constexpr TParamInfo kQueryParams[] = {
    {"Name", VT_BSTR, kReq, nullptr, 0},
    {"SQL", VT_BSTR, kReq, nullptr, 0},
    {"Params", VT_VARIANT, kOpt, nullptr, 0},
};
constexpr TParamInfo kExecParams[] = {
    {"SQL", VT_BSTR, kReq, nullptr, 0},
    {"Params", VT_VARIANT, kOpt, nullptr, 0},
};
constexpr TParamInfo kGetRowsParams[] = {
    {"Name", VT_BSTR, kReq, nullptr, 0},
    {"Rows", VT_I4, kDef, nullptr, -1},
    {"Fields", VT_BSTR, kDef, u"", 0},
};
constexpr TParamInfo kContentJSONParams[] = {{"Name", VT_BSTR, kReq, nullptr, 0}};

// Moves a BSTR result into the dispatch result. (The member must have run
// before `value` is read, so callers evaluate the call first.)
HRESULT BstrResult(HRESULT hr, BSTR value, VARIANT* result) {
  olert::ScopedBstr owned(value);
  if (SUCCEEDED(hr)) {
    result->vt = VT_BSTR;
    result->bstrVal = owned.Detach();
  }
  return hr;
}

HRESULT CallServer(IQuill* q, VARIANT* a, VARIANT* r) {
  return q->get_Server(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].ulVal, a[4].bstrVal,
                       a[5].boolVal, a[6].uintVal, r);
}
HRESULT CallDataset(IQuill* q, VARIANT* a, VARIANT* r) {
  return q->get_Dataset(a[0].bstrVal, a[1].bstrVal, a[2].boolVal, a[3].bstrVal, a[4].bstrVal, r);
}
HRESULT CallConnect(IQuill* q, VARIANT* a, VARIANT*) {
  return q->Connect(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].ulVal, a[4].bstrVal,
                    a[5].boolVal, a[6].uintVal);
}
HRESULT CallLink(IQuill* q, VARIANT* a, VARIANT*) {
  return q->Link(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal);
}
HRESULT CallUnLink(IQuill* q, VARIANT* a, VARIANT*) { return q->UnLink(a[0].bstrVal); }
HRESULT CallContent(IQuill* q, VARIANT* a, VARIANT* r) {
  BSTR value = nullptr;
  const HRESULT hr = q->get_Content(a[0].bstrVal, a[1].boolVal, a[2].bstrVal, &value);
  return BstrResult(hr, value, r);
}
HRESULT CallContentTable(IQuill* q, VARIANT* a, VARIANT* r) {
  BSTR value = nullptr;
  const HRESULT hr = q->get_ContentTable(a[0].bstrVal, a[1].boolVal, a[2].bstrVal, a[3].bstrVal,
                                         a[4].bstrVal, &value);
  return BstrResult(hr, value, r);
}
HRESULT CallExecute(IQuill* q, VARIANT* a, VARIANT*) {
  return q->Execute(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3]);
}
HRESULT CallOnStartPage(IQuill* q, VARIANT* a, VARIANT*) { return q->OnStartPage(a[0].punkVal); }
HRESULT CallOnEndPage(IQuill* q, VARIANT*, VARIANT*) { return q->OnEndPage(); }
HRESULT CallExecSQL(IQuill* q, VARIANT* a, VARIANT*) {
  return q->ExecSQL(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].bstrVal, a[4].ulVal,
                    a[5].bstrVal, a[6].boolVal, a[7].uintVal);
}
HRESULT CallRecordset(IQuill* q, VARIANT* a, VARIANT* r) {
  return q->get_Recordset(a[0].bstrVal, a[1].bstrVal, a[2].boolVal, a[3].bstrVal, a[4].bstrVal,
                          r);
}
HRESULT CallConnection(IQuill* q, VARIANT* a, VARIANT* r) {
  return q->get_Connection(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].ulVal, a[4].bstrVal,
                           a[5].boolVal, a[6].uintVal, r);
}
HRESULT CallFormatDateTime(IQuill* q, VARIANT* a, VARIANT* r) {
  BSTR value = nullptr;
  const HRESULT hr = q->get_FormatDateTime(a[0].bstrVal, a[1].date, &value);
  return BstrResult(hr, value, r);
}

// The members of IQuill2 sit on the same object; its vtable extends IQuill's.
IQuill2* Two(IQuill* q) { return static_cast<IQuill2*>(q); }

HRESULT CallBeginTrans(IQuill* q, VARIANT*, VARIANT*) { return Two(q)->BeginTrans(); }
HRESULT CallCommitTrans(IQuill* q, VARIANT*, VARIANT*) { return Two(q)->CommitTrans(); }
HRESULT CallRollbackTrans(IQuill* q, VARIANT*, VARIANT*) { return Two(q)->RollbackTrans(); }
HRESULT CallInTransaction(IQuill* q, VARIANT*, VARIANT* r) {
  VARIANT_BOOL value = VARIANT_FALSE;
  const HRESULT hr = Two(q)->get_InTransaction(&value);
  if (SUCCEEDED(hr)) {
    r->vt = VT_BOOL;
    r->boolVal = value;
  }
  return hr;
}
HRESULT CallQuery(IQuill* q, VARIANT* a, VARIANT* r) {
  return Two(q)->get_Query(a[0].bstrVal, a[1].bstrVal, a[2], r);
}
HRESULT CallExec(IQuill* q, VARIANT* a, VARIANT* r) {
  return Two(q)->Exec(a[0].bstrVal, a[1], r);
}
HRESULT CallGetRows(IQuill* q, VARIANT* a, VARIANT* r) {
  return Two(q)->get_GetRows(a[0].bstrVal, a[1].lVal, a[2].bstrVal, r);
}
HRESULT CallContentJSON(IQuill* q, VARIANT* a, VARIANT* r) {
  BSTR value = nullptr;
  const HRESULT hr = Two(q)->get_ContentJSON(a[0].bstrVal, &value);
  return BstrResult(hr, value, r);
}

constexpr TMemberKind kGet = TMemberKind::PropertyGet;
constexpr TMemberKind kMethod = TMemberKind::Method;

const TMemberInfo kMembers[] = {
    {3, "Server", kGet, kServerParams, VT_VARIANT, "Server Object", 0, CallServer},
    {4, "Dataset", kGet, kDatasetParams, VT_VARIANT, "", 1, CallDataset},
    {9, "Connect", kMethod, kConnectParams, VT_EMPTY, "", 2, CallConnect},
    {10, "Link", kMethod, kLinkParams, VT_EMPTY, "", 3, CallLink},
    {11, "UnLink", kMethod, kUnLinkParams, VT_EMPTY, "", 4, CallUnLink},
    {7, "Content", kGet, kContentParams, VT_BSTR, "", 5, CallContent},
    {5, "ContentTable", kGet, kContentTableParams, VT_BSTR, "", 6, CallContentTable},
    {6, "Execute", kMethod, kExecuteParams, VT_EMPTY, "", 7, CallExecute},
    {1, "OnStartPage", kMethod, kOnStartPageParams, VT_EMPTY, "", 8, CallOnStartPage},
    {2, "OnEndPage", kMethod, {}, VT_EMPTY, "", 9, CallOnEndPage},
    {8, "ExecSQL", kMethod, kExecSQLParams, VT_EMPTY, "", 10, CallExecSQL},
    {13, "Recordset", kGet, kDatasetParams, VT_VARIANT, "", 11, CallRecordset},
    {14, "Connection", kGet, kServerParams, VT_VARIANT, "", 12, CallConnection},
    {15, "FormatDateTime", kGet, kFormatDateTimeParams, VT_BSTR, "", 13, CallFormatDateTime},
    // IQuill2
    {100, "BeginTrans", kMethod, {}, VT_EMPTY, "", 14, CallBeginTrans},
    {101, "CommitTrans", kMethod, {}, VT_EMPTY, "", 15, CallCommitTrans},
    {102, "RollbackTrans", kMethod, {}, VT_EMPTY, "", 16, CallRollbackTrans},
    {103, "InTransaction", kGet, {}, VT_BOOL, "", 17, CallInTransaction},
    {104, "Query", kGet, kQueryParams, VT_VARIANT, "", 18, CallQuery},
    {105, "Exec", kMethod, kExecParams, VT_VARIANT, "", 19, CallExec},
    {106, "GetRows", kGet, kGetRowsParams, VT_VARIANT, "", 20, CallGetRows},
    {107, "ContentJSON", kGet, kContentJSONParams, VT_BSTR, "", 21, CallContentJSON},
};
constexpr size_t kIQuillMemberCount = 14;

bool SameAsciiName(std::u16string_view a, const char* b) {
  const std::string_view bv(b);
  if (a.size() != bv.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    char16_t y = static_cast<unsigned char>(bv[i]);
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::span<const TMemberInfo> QuillMembers() { return kMembers; }

std::span<const TMemberInfo> QuillMembers(TInterfaceVersion version) {
  if (version == TInterfaceVersion::IQuill) return std::span(kMembers).first(kIQuillMemberCount);
  return kMembers;
}

const TMemberInfo* FindMember(DISPID id) {
  for (const TMemberInfo& m : kMembers) {
    if (m.Id == id) return &m;
  }
  return nullptr;
}

const TMemberInfo* FindMemberByName(std::u16string_view name) {
  for (const TMemberInfo& m : kMembers) {
    if (SameAsciiName(name, m.Name)) return &m;
  }
  return nullptr;
}

int FindParam(const TMemberInfo& member, std::u16string_view name) {
  for (size_t i = 0; i < member.Params.size(); ++i) {
    if (SameAsciiName(name, member.Params[i].Name)) return static_cast<int>(i);
  }
  return -1;
}

void MakeDefaultValue(const TParamInfo& param, VARIANT* out) {
  assert(param.Use == TParamUse::Default);
  VariantInit(out);
  switch (param.Type) {
    case VT_BSTR:
      out->bstrVal = SysAllocString(param.DefaultText);
      if (out->bstrVal == nullptr && param.DefaultText != nullptr && param.DefaultText[0] != 0) {
        throw std::bad_alloc();
      }
      break;
    case VT_I4: out->lVal = static_cast<LONG>(param.DefaultNumber); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(param.DefaultNumber); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(param.DefaultNumber); break;
    case VT_BOOL: out->boolVal = param.DefaultNumber ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_DATE: out->date = static_cast<DATE>(param.DefaultNumber); break;
    default: assert(false && "no default for this type"); return;
  }
  out->vt = param.Type;
}

}  // namespace quill
