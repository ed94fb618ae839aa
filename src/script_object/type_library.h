// The type library of the module, kept as data: the IQuill and IQuill2 members with
// their DISPIDs, kinds, arguments (names, automation types, defaults) and
// help strings, and the Quill class. Late-bound callers reach the members
// through this table only: names are resolved against it, arguments are
// converted to the declared types and omitted ones filled with the declared
// defaults before the member is called on the IQuill vtable.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/olert/olert.h"
#include "script_object/quill_interface.h"

namespace quill {

// The default templates of Content and ContentTable.
inline constexpr const char16_t* kDefaultContentHTML =
    u"<#FIELDVALUES PREFIX=\"\" POSTFIX=\"\" FIELDPREFIX=\"%20\" FIELDPOSTFIX=\"%20\" >";
inline constexpr const char16_t* kDefaultTableHead =
    u"<table><#FIELDNAMES PREFIX=\"%3ctr%3e\" POSTFIX=\"%3c/tr%3e\" FIELDPREFIX=\"%3ctd%3e\" "
    u"FIELDPOSTFIX=\"%3c/td%3e\"  >";
inline constexpr const char16_t* kDefaultTableBody =
    u"<#FIELDVALUES PREFIX=\"%3ctr%3e\" POSTFIX=\"%3c/tr%3e\" FIELDPREFIX=\"%3ctd%3e\" "
    u"FIELDPOSTFIX=\"%3c/td%3e\"  >";
inline constexpr const char16_t* kDefaultTableFoot = u"</table>";

struct TTypeLibraryInfo {
  const char* Name = "Harrow";
  const char* HelpString = "Quill Library";
  uint16_t MajorVersion = 1;
  uint16_t MinorVersion = 0;
  LCID Locale = 0x0409;
};
inline constexpr TTypeLibraryInfo kTypeLibrary{};

inline constexpr const char* kClassName = "Quill";
inline constexpr const char* kClassDescription = "";  // the coclass's help string
inline constexpr const char* kInterfaceName = "IQuill";
inline constexpr const char* kInterfaceHelp = "Dispatch interface for Quill Object";
inline constexpr const char* kInterface2Name = "IQuill2";
inline constexpr const char* kInterface2Help =
    "Dispatch interface for Quill Object: transactions, bound parameters, rows as data";

// How an argument may be left out.
enum class TParamUse : uint8_t {
  Required,      // a call without it fails
  Default,       // the declared default is passed in its place
  OptionalNoDefault,  // passed as VT_ERROR / DISP_E_PARAMNOTFOUND
};

struct TParamInfo {
  const char* Name;
  VARTYPE Type;  // VT_BSTR, VT_I4, VT_UI4, VT_UINT, VT_BOOL, VT_DATE, VT_VARIANT, VT_UNKNOWN
  TParamUse Use;
  const char16_t* DefaultText;  // VT_BSTR defaults
  int64_t DefaultNumber;        // VT_I4, VT_UI4, VT_UINT, VT_BOOL (0 or -1), VT_DATE (whole days)
};

enum class TMemberKind : uint8_t { Method = 1, PropertyGet = 2 };  // INVOKE_FUNC, INVOKE_PROPERTYGET

// Calls one member on the vtable. `args` holds one VARIANT per declared
// argument, in declared order, already of the declared types; `result` is
// initialised and receives the value of a property get.
using TMemberThunk = HRESULT (*)(IQuill* self, VARIANT* args, VARIANT* result);

struct TMemberInfo {
  DISPID Id;
  const char* Name;
  TMemberKind Kind;
  std::span<const TParamInfo> Params;
  VARTYPE ResultType;  // VT_VARIANT, VT_BSTR or VT_BOOL; VT_EMPTY for none
  const char* HelpString;
  int VtableSlot;      // position after the seven IDispatch slots, from 0
  TMemberThunk Call;
};

// The members in vtable order: those of IQuill, then those of IQuill2.
std::span<const TMemberInfo> QuillMembers();

enum class TInterfaceVersion : uint8_t { IQuill, IQuill2 };
// The members one interface describes: IQuill's fourteen, or all of them.
std::span<const TMemberInfo> QuillMembers(TInterfaceVersion version);
// The member with that DISPID, or null.
const TMemberInfo* FindMember(DISPID id);
// The member with that name (ASCII case ignored), or null.
const TMemberInfo* FindMemberByName(std::u16string_view name);
// Position of the argument with that name (ASCII case ignored), or -1.
int FindParam(const TMemberInfo& member, std::u16string_view name);

// Stores the declared default of `param` into *out (which must hold
// nothing to free). REQUIRES: param.Use == TParamUse::Default.
void MakeDefaultValue(const TParamInfo& param, VARIANT* out);

}  // namespace quill
