// The identifiers and interfaces of the Quill class as its clients see them:
// the dual interface IQuill (its vtable follows the seven IDispatch slots in
// the order below), its extension IQuill2 (transactions, bound parameters,
// rows as arrays and JSON; its slots follow those of IQuill), the page-event
// interface a page host calls, and the host
// interface the object reads the posted form through.
#pragma once

#include "platform/olert/olert.h"

namespace quill {

// {96C7168E-E85B-46D8-9EF7-0D5777765005}
inline constexpr CLSID CLSID_Quill = {
    0x96C7168E, 0xE85B, 0x46D8, {0x9E, 0xF7, 0x0D, 0x57, 0x77, 0x76, 0x50, 0x05}};
// {C189C591-72BF-4E1C-A89D-C9DF2F206FBC}
inline constexpr IID IID_IQuill = {
    0xC189C591, 0x72BF, 0x4E1C, {0xA8, 0x9D, 0xC9, 0xDF, 0x2F, 0x20, 0x6F, 0xBC}};
// {1A270250-07E4-441E-A11A-1A8102D5AE48}
inline constexpr IID IID_IQuill2 = {
    0x1A270250, 0x07E4, 0x441E, {0xA1, 0x1A, 0x1A, 0x81, 0x02, 0xD5, 0xAE, 0x48}};
// {9822BE79-9966-473B-B84B-E061D922159E}
inline constexpr GUID LIBID_Harrow = {
    0x9822BE79, 0x9966, 0x473B, {0xB8, 0x4B, 0xE0, 0x61, 0xD9, 0x22, 0x15, 0x9E}};
// {7A8B9910-F33C-11D2-9EDD-00C04F6539EE}
inline constexpr IID IID_IPageEvents = {
    0x7A8B9910, 0xF33C, 0x11D2, {0x9E, 0xDD, 0x00, 0xC0, 0x4F, 0x65, 0x39, 0xEE}};
// {D97A6DA0-A868-11CF-83AE-00B0C90C2BD8}
inline constexpr IID IID_IScriptingContext = {
    0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

inline constexpr const char* kProgID = "Harrow.Quill";
inline constexpr const char16_t* kProgIDW = u"Harrow.Quill";

// The dual interface. Every member answers S_OK, or a failure HRESULT with
// the thread's error information set (GUID IID_IQuill, source
// "Harrow.Quill", the failure's message). Property gets hand their value out
// through the last argument, which the caller must have initialised (VARIANT)
// and then owns.
struct IQuill : IDispatch {
  virtual HRESULT get_Server(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                             VARIANT_BOOL Compression, UINT Options, VARIANT* Value) = 0;
  virtual HRESULT get_Dataset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master,
                              BSTR Condition, VARIANT* Value) = 0;
  virtual HRESULT Connect(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                          VARIANT_BOOL Compression, UINT Options) = 0;
  virtual HRESULT Link(BSTR Detail, BSTR Master, BSTR Condition) = 0;
  virtual HRESULT UnLink(BSTR Detail) = 0;
  virtual HRESULT get_Content(BSTR Name, VARIANT_BOOL IsFile, BSTR HTML, BSTR* Value) = 0;
  virtual HRESULT get_ContentTable(BSTR Name, VARIANT_BOOL IsFile, BSTR HTMLHead, BSTR HTMLBody,
                                   BSTR HTMLFoot, BSTR* Value) = 0;
  virtual HRESULT Execute(BSTR Action, BSTR Name, BSTR Fields, VARIANT Values) = 0;
  virtual HRESULT OnStartPage(IUnknown* AScriptingContext) = 0;
  virtual HRESULT OnEndPage() = 0;
  virtual HRESULT ExecSQL(BSTR SQL, BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                          VARIANT_BOOL Compression, UINT Options) = 0;
  virtual HRESULT get_Recordset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master,
                                BSTR Condition, VARIANT* Value) = 0;
  virtual HRESULT get_Connection(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                                 VARIANT_BOOL Compression, UINT Options, VARIANT* Value) = 0;
  virtual HRESULT get_FormatDateTime(BSTR Format, DATE DateTime, BSTR* Value) = 0;
};

// IQuill and, after its slots, the members below (DISPIDs 100 to 107).
// Failures are reported as by IQuill (the error information's GUID stays
// IID_IQuill). `Params` is an array (a script array arrives as
// VT_ARRAY | VT_VARIANT), one value not in an array, or omitted
// (VT_ERROR / DISP_E_PARAMNOTFOUND) for none.
struct IQuill2 : IQuill {
  // Starts a transaction on the object's connection (connecting first when
  // needed). Every statement the object and its datasets send until
  // CommitTrans or RollbackTrans belongs to it. Fails when one is open.
  virtual HRESULT BeginTrans() = 0;
  // Commits the open transaction; fails when none is open.
  virtual HRESULT CommitTrans() = 0;
  // Rolls the open transaction back and re-reads every open dataset; fails
  // when none is open.
  virtual HRESULT RollbackTrans() = 0;
  virtual HRESULT get_InTransaction(VARIANT_BOOL* Value) = 0;
  // The dataset `Name` (created when new) over `SQL`, its "?" placeholders
  // bound to `Params` in order, opened. Value: a dataset object, as Dataset
  // answers it.
  virtual HRESULT get_Query(BSTR Name, BSTR SQL, VARIANT Params, VARIANT* Value) = 0;
  // Sends `SQL` with its placeholders bound to `Params`. Value: the number
  // of rows the statement changed (an integer; -1 when the server gives
  // none).
  virtual HRESULT Exec(BSTR SQL, VARIANT Params, VARIANT* Value) = 0;
  // Up to `Rows` rows (-1: all) from the current row of the dataset `Name`
  // as a two-dimensional array indexed (field, row), both from 0, of the
  // fields `Fields` ("a;b"; empty: all). The dataset moves past the rows
  // read.
  virtual HRESULT get_GetRows(BSTR Name, LONG Rows, BSTR Fields, VARIANT* Value) = 0;
  // Every row of the dataset `Name` from the first, as a JSON array of
  // objects keyed by column name.
  virtual HRESULT get_ContentJSON(BSTR Name, BSTR* Value) = 0;
};

// What a page host calls around each page; the same operations as the
// IQuill members of these names.
struct IPageEvents : IUnknown {
  virtual HRESULT OnStartPage(IUnknown* AScriptingContext) = 0;
  virtual HRESULT OnEndPage() = 0;
};

}  // namespace quill
