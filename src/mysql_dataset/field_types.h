// The enumerations shared by the dataset layer, its fields and the shells:
// field types, dataset states and the small kinds the record window uses.
//
// The ordinals of TFieldType and TDataSetState are part of the script
// interface (the field shell's `type`, the dataset shell's state), so the
// order must not change.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quill {

enum TFieldType : uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid,
};
inline constexpr int kFieldTypeCount = ftGuid + 1;

// "ftUnknown" ... "ftGuid", indexed by TFieldType.
std::span<const std::string_view> FieldTypeNames();
// The blob kinds ftBlob ... ftTypedBinary, the range a blob field's
// BlobType takes; index 0 is ftBlob.
std::span<const std::string_view> BlobTypeNames();

enum TDataSetState : uint8_t {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
  dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening,
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
std::span<const std::string_view> FieldKindNames();

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
std::span<const std::string_view> AlignmentNames();

enum TAutoRefreshFlag : uint8_t { arNone, arAutoInc, arDefault };
std::span<const std::string_view> AutoRefreshFlagNames();

// Bits of a field's ProviderFlags.
enum TProviderFlag : uint8_t { pfInUpdate, pfInWhere, pfInKey, pfHidden };
std::span<const std::string_view> ProviderFlagNames();
inline constexpr int32_t kDefaultProviderFlags = (1 << pfInUpdate) | (1 << pfInWhere);

// Bits of a field definition's attributes.
enum TFieldAttribute : uint8_t { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };

// What a record-fetching call asks the cursor for, and what it answers.
enum class TGetMode : uint8_t { Current, Next, Prior };
enum class TGetResult : uint8_t { Ok, BeforeFirst, AfterLast, Error };

// Where a record buffer stands relative to the cursor's rows: on a row, before
// the first, after the last, or a row being inserted.
enum class TBookmarkFlag : uint8_t { Current, BeforeFirst, AfterLast, Inserted };

// What an error event tells the operation to do next.
enum class TDataAction : uint8_t { Fail, Abort, Retry };

// Notifications from a dataset to its data sources and their links.
enum class TDataEvent : uint8_t {
  FieldChange,      // a field of the active record was written (field given)
  RecordChange,     // the active record changed in place (edit started)
  DataSetChange,    // the window was refilled: anything may have changed
  DataSetScroll,    // the window moved by `info` records
  LayoutChange,     // fields or their properties changed
  UpdateRecord,     // consumers: write your pending edits into the fields now
  UpdateState,      // the dataset's state changed
  CheckBrowseMode,  // consumers: the dataset is about to need browse state
};

}  // namespace quill
