// olert.h: the public face of libolert.so, the small runtime that stands in
// for COM and OLE Automation on Linux.
//
// Everything here follows the Windows x64 conventions (names, values, struct
// layouts, vtable slot order) so that a client written the way a Windows COM
// client is written works unchanged, apart from OLECHAR being char16_t.
// Windows LONG/ULONG/DWORD are 32-bit here although the platform is LP64.
//
// Every exported function has C linkage and default visibility; the rest of
// the library is hidden. Functions that hand out an interface pointer set it
// to null whenever they fail, and null arguments are answered with an error
// code (E_INVALIDARG, E_POINTER or ERROR_INVALID_PARAMETER), never a crash.
#ifndef QUILL_PLATFORM_OLERT_OLERT_H_
#define QUILL_PLATFORM_OLERT_OLERT_H_

#include <cstddef>
#include <cstdint>

#define OLERT_EXPORT __attribute__((visibility("default")))

// ---------------------------------------------------------------------------
// Scalar types
// ---------------------------------------------------------------------------

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef int16_t SHORT;
typedef uint8_t BYTE;
typedef char CHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef LONG LSTATUS;
typedef uint32_t LCID;
typedef int32_t DISPID;
typedef int32_t MEMBERID;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef const char* LPCSTR;
typedef char* LPSTR;

typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

// ---------------------------------------------------------------------------
// HRESULT values
// ---------------------------------------------------------------------------

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

inline constexpr HRESULT MakeHresult(uint32_t v) { return static_cast<HRESULT>(v); }

inline constexpr int FACILITY_NULL = 0;
inline constexpr int FACILITY_DISPATCH = 2;
inline constexpr int FACILITY_ITF = 4;
inline constexpr int FACILITY_WIN32 = 7;

// The HRESULT that carries a Win32 error code (0 stays S_OK).
inline constexpr HRESULT HRESULT_FROM_WIN32(LONG code) {
  return code <= 0 ? static_cast<HRESULT>(code)
                   : MakeHresult((static_cast<uint32_t>(code) & 0xFFFFu) |
                                 (static_cast<uint32_t>(FACILITY_WIN32) << 16) | 0x80000000u);
}
inline constexpr int HRESULT_CODE(HRESULT hr) { return hr & 0xFFFF; }
inline constexpr int HRESULT_FACILITY(HRESULT hr) { return (hr >> 16) & 0x1FFF; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_UNEXPECTED = MakeHresult(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHresult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
inline constexpr HRESULT E_ACCESSDENIED = MakeHresult(0x80070005);
inline constexpr HRESULT E_HANDLE = MakeHresult(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHresult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHresult(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = MakeHresult(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeHresult(0x80040151);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154);
inline constexpr HRESULT REGDB_E_IIDNOTREG = MakeHresult(0x80040155);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeHresult(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHresult(0x80040201);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHresult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHresult(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHresult(0x800401F9);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHresult(0x80010106);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHresult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHresult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHresult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHresult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = MakeHresult(0x8002000C);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHresult(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHresult(0x8002000F);
inline constexpr HRESULT DISP_E_NOTACOLLECTION = MakeHresult(0x80020011);

inline constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHresult(0x8002801C);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = MakeHresult(0x8002801D);
inline constexpr HRESULT TYPE_E_INVALIDSTATE = MakeHresult(0x80028029);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeHresult(0x8002802B);
inline constexpr HRESULT TYPE_E_TYPEMISMATCH = MakeHresult(0x80028CA0);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = MakeHresult(0x80029C4A);

// Win32 error codes, as the registry functions answer them.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MOD_NOT_FOUND = 126;
inline constexpr LONG ERROR_PROC_NOT_FOUND = 127;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// ---------------------------------------------------------------------------
// GUIDs
// ---------------------------------------------------------------------------

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];

  friend bool operator==(const GUID& a, const GUID& b) = default;
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

static_assert(sizeof(GUID) == 16);

// ---------------------------------------------------------------------------
// VARTYPE values
// ---------------------------------------------------------------------------

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_VOID = 24;
inline constexpr VARTYPE VT_HRESULT = 25;
inline constexpr VARTYPE VT_PTR = 26;
inline constexpr VARTYPE VT_SAFEARRAY = 27;
inline constexpr VARTYPE VT_CARRAY = 28;
inline constexpr VARTYPE VT_USERDEFINED = 29;
inline constexpr VARTYPE VT_LPSTR = 30;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_RECORD = 36;
inline constexpr VARTYPE VT_INT_PTR = 37;
inline constexpr VARTYPE VT_UINT_PTR = 38;
inline constexpr VARTYPE VT_FILETIME = 64;
inline constexpr VARTYPE VT_BLOB = 65;
inline constexpr VARTYPE VT_CLSID = 72;
inline constexpr VARTYPE VT_VECTOR = 0x1000;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_RESERVED = 0x8000;
inline constexpr VARTYPE VT_ILLEGAL = 0xFFFF;
inline constexpr VARTYPE VT_ILLEGALMASKED = 0x0FFF;
inline constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

// ---------------------------------------------------------------------------
// Value structs
// ---------------------------------------------------------------------------

struct IUnknown;
struct IDispatch;
struct ITypeInfo;    // defined by the type-information layer, derives IUnknown
struct ITypeLib;     // likewise
struct IRecordInfo;  // user-defined records are not supported by this runtime

// Currency: the value times 10,000 in a signed 64-bit integer.
union CY {
  struct {
    uint32_t Lo;
    int32_t Hi;
  };
  int64_t int64;
};
static_assert(sizeof(CY) == 8);

struct DECIMAL {
  USHORT wReserved;
  union {
    struct {
      BYTE scale;
      BYTE sign;
    };
    USHORT signscale;
  };
  ULONG Hi32;
  union {
    struct {
      ULONG Lo32;
      ULONG Mid32;
    };
    ULONGLONG Lo64;
  };
};
static_assert(sizeof(DECIMAL) == 16);

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// rgsabound holds the bounds in reverse order: rgsabound[0] belongs to the
// last (right-most) dimension, rgsabound[cDims - 1] to the first.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};
static_assert(offsetof(SAFEARRAY, pvData) == 16);
static_assert(offsetof(SAFEARRAY, rgsabound) == 24);

inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;
inline constexpr USHORT FADF_RESERVED = 0xF008;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          void* pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT VARIANTARG;
static_assert(sizeof(VARIANT) == 24);
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, lVal) == 8);
static_assert(offsetof(VARIANT, pvRecord) == 8);
static_assert(offsetof(VARIANT, pRecInfo) == 16);

// Positional arguments are stored last-to-first in rgvarg.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};
static_assert(offsetof(EXCEPINFO, bstrSource) == 8);
static_assert(offsetof(EXCEPINFO, scode) == 56);

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;
inline constexpr DISPID DISPID_EVALUATE = -5;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;

// Class contexts and apartment models.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
inline constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// ---------------------------------------------------------------------------
// Interfaces: pure virtual, no virtual destructor, standard slot order.
// An implementation that deletes itself should be a final class.
// ---------------------------------------------------------------------------

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                         UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IErrorInfo : IUnknown {
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

struct IEnumVARIANT : IUnknown {
  virtual HRESULT Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumVARIANT** ppEnum) = 0;
};

struct IProvideClassInfo : IUnknown {
  virtual HRESULT GetClassInfo(ITypeInfo** ppTI) = 0;
};

inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

struct IObjectSafety : IUnknown {
  virtual HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                            DWORD* pdwEnabledOptions) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                            DWORD dwEnabledOptions) = 0;
};

// ---------------------------------------------------------------------------
// Registry types
// ---------------------------------------------------------------------------

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
inline constexpr DWORD REG_OPTION_VOLATILE = 0x1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// ---------------------------------------------------------------------------
// Exports
// ---------------------------------------------------------------------------

extern "C" {

// Standard interface and class identifiers.
OLERT_EXPORT extern const GUID GUID_NULL;
OLERT_EXPORT extern const IID IID_NULL;
OLERT_EXPORT extern const CLSID CLSID_NULL;
OLERT_EXPORT extern const IID IID_IUnknown;
OLERT_EXPORT extern const IID IID_IDispatch;
OLERT_EXPORT extern const IID IID_IClassFactory;
OLERT_EXPORT extern const IID IID_IErrorInfo;
OLERT_EXPORT extern const IID IID_ICreateErrorInfo;
OLERT_EXPORT extern const IID IID_ISupportErrorInfo;
OLERT_EXPORT extern const IID IID_IEnumVARIANT;
OLERT_EXPORT extern const IID IID_ITypeInfo;
OLERT_EXPORT extern const IID IID_ITypeLib;
OLERT_EXPORT extern const IID IID_IProvideClassInfo;
OLERT_EXPORT extern const IID IID_IObjectSafety;

// --- Strings. A BSTR points at its first character; the 4 bytes before it
// hold the length in bytes; a NUL follows the last character. A null BSTR
// reads as the empty text everywhere.

// Returns a new BSTR holding psz up to its NUL, or null when psz is null or
// memory runs out.
OLERT_EXPORT BSTR SysAllocString(const OLECHAR* psz);
// Returns a new BSTR of exactly ui characters copied from strIn (embedded
// NULs kept); a null strIn gives ui zero characters. Null on overflow.
OLERT_EXPORT BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// Returns a new BSTR holding len bytes copied from psz (zeroed when psz is
// null); SysStringLen of it is len / 2.
OLERT_EXPORT BSTR SysAllocStringByteLen(const char* psz, UINT len);
// Replaces *pbstr by a copy of psz. Returns TRUE on success, FALSE (and
// leaves *pbstr) on failure or a null pbstr.
OLERT_EXPORT INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
OLERT_EXPORT INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
// Frees a BSTR; null is a no-op.
OLERT_EXPORT void SysFreeString(BSTR bstrString);
// Characters in the BSTR (0 for null).
OLERT_EXPORT UINT SysStringLen(BSTR pbstr);
// Bytes in the BSTR (0 for null).
OLERT_EXPORT UINT SysStringByteLen(BSTR bstr);

// --- Task memory, for out-parameters that the caller frees.
OLERT_EXPORT void* CoTaskMemAlloc(size_t cb);
OLERT_EXPORT void* CoTaskMemRealloc(void* pv, size_t cb);
OLERT_EXPORT void CoTaskMemFree(void* pv);

// --- Variants.

// Sets the type to VT_EMPTY; the value is not looked at.
OLERT_EXPORT void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (BSTR, array, interface reference) and leaves
// it VT_EMPTY. Never touches what a VT_BYREF value points to. Fails with
// DISP_E_BADVARTYPE (variant unchanged) for a type no variant may hold, and
// DISP_E_ARRAYISLOCKED (variant unchanged) for a locked array.
OLERT_EXPORT HRESULT VariantClear(VARIANTARG* pvarg);
// Clears *pvargDest, then copies *pvargSrc into it: BSTRs and arrays are
// duplicated, interfaces AddRef'd, VT_BYREF values copied as the same
// reference. Copying a variant onto itself does nothing.
OLERT_EXPORT HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// As VariantCopy, but a VT_BYREF source is copied as the value it refers to.
OLERT_EXPORT HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts *pvarSrc to type vt and stores it in *pvargDest, which is cleared
// first; source and destination may be the same variant. On failure the
// destination is left as it was. English rules for text: "." is the decimal
// separator, dates read and print as m/d/yyyy h:nn:ss AM. Answers
// DISP_E_TYPEMISMATCH for a value of the wrong kind (Null to anything but
// Null or Empty, text that is no number), DISP_E_OVERFLOW for a value out of
// range, DISP_E_BADVARTYPE for a type no variant may hold. Floating values
// go to integers with banker's rounding; true goes to -1, or to all bits set
// for unsigned types. Numbers print in the shortest form that reads back as
// the same value ("0.1", "1E+20", "1E-05"), so a trip through text loses
// nothing. Objects are converted through their default property
// (DISPID_VALUE) unless VARIANT_NOVALUEPROP is given; UNKNOWN and DISPATCH
// convert into each other by QueryInterface.
OLERT_EXPORT HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                       USHORT wFlags, VARTYPE vt);
// As VariantChangeType; the locale is ignored (English rules always).
OLERT_EXPORT HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                         LCID lcid, USHORT wFlags, VARTYPE vt);

// --- Safe arrays. Bounds passed to SafeArrayCreate and indexes passed to
// the element functions are in left-to-right dimension order; elements are
// laid out with the first index varying fastest.

// Returns a new zero-filled array of cDims dimensions, or null for an
// unsupported element type, no dimensions or a size that cannot be
// allocated.
OLERT_EXPORT SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
OLERT_EXPORT SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Allocates a descriptor without data (bounds to be filled in by the caller
// in stored order, then SafeArrayAllocData).
OLERT_EXPORT HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut);
OLERT_EXPORT HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut);
OLERT_EXPORT HRESULT SafeArrayAllocData(SAFEARRAY* psa);
// Frees the elements (deep for BSTR, VARIANT and interface elements), the
// data and the descriptor. Null is S_OK; a locked array answers
// DISP_E_ARRAYISLOCKED and is left as it was.
OLERT_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* psa);
OLERT_EXPORT HRESULT SafeArrayDestroyData(SAFEARRAY* psa);
OLERT_EXPORT HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa);
// Deep copy into a new array.
OLERT_EXPORT HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
OLERT_EXPORT UINT SafeArrayGetDim(SAFEARRAY* psa);
OLERT_EXPORT UINT SafeArrayGetElemsize(SAFEARRAY* psa);
OLERT_EXPORT HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
// nDim counts from 1 for the left-most dimension; DISP_E_BADINDEX outside.
OLERT_EXPORT HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
OLERT_EXPORT HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// Copies an element out into *pv: a BSTR is duplicated, a VARIANT copied
// (pv is initialised first), an interface AddRef'd. DISP_E_BADINDEX outside
// the bounds.
OLERT_EXPORT HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// Stores a copy of the value in the element, freeing the old one. For
// VT_BSTR, VT_UNKNOWN and VT_DISPATCH pv is the BSTR or interface pointer
// itself; for every other type it points at the value.
OLERT_EXPORT HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
OLERT_EXPORT HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
// Locks nest; E_UNEXPECTED when unlocking an unlocked array.
OLERT_EXPORT HRESULT SafeArrayLock(SAFEARRAY* psa);
OLERT_EXPORT HRESULT SafeArrayUnlock(SAFEARRAY* psa);
OLERT_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
OLERT_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);

// --- Error information, one object per thread.

// Returns a new object implementing ICreateErrorInfo and IErrorInfo.
OLERT_EXPORT HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Replaces the thread's error object (null clears it). dwReserved must be 0.
OLERT_EXPORT HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the thread's error object over (the caller releases it) and clears
// it. S_FALSE and a null *pperrinfo when there is none.
OLERT_EXPORT HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// --- Activation of in-process servers found in the registry:
// HKCR\CLSID\{clsid}\InprocServer32 (default value: the module path) and
// HKCR\<progid>\CLSID (default value: the CLSID text).

// Counts per thread; S_OK first, S_FALSE when already initialised.
OLERT_EXPORT HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
OLERT_EXPORT HRESULT CoInitialize(void* pvReserved);
OLERT_EXPORT void CoUninitialize();
// CO_E_CLASSSTRING (and CLSID_NULL) for an unregistered ProgID.
OLERT_EXPORT HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in any case; text not
// starting with a brace is looked up as a ProgID. CO_E_CLASSSTRING when
// malformed or unknown.
OLERT_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
// As CLSIDFromString without the ProgID lookup; E_INVALIDARG when malformed.
OLERT_EXPORT HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
// Writes the braced upper-case text; answers the characters written
// including the NUL (39), or 0 when cchMax is too small.
OLERT_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// As StringFromGUID2 into CoTaskMemAlloc'ed memory.
OLERT_EXPORT HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
// Loads the registered module once (it stays loaded) and asks its
// DllGetClassObject. REGDB_E_CLASSNOTREG when the class is not registered,
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the module does not load,
// CO_E_ERRORINDLL when it lacks DllGetClassObject.
OLERT_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved,
                                      REFIID riid, void** ppv);
// Class factory, CreateInstance, release of the factory.
OLERT_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                      REFIID riid, void** ppv);

// --- Registry. Key and value names compare without regard to ASCII case; a
// key keeps the spelling it was created with; a null or empty value name is
// the default value. The store is the file named by OLE_REGISTRY, else
// $HOME/.local/share/olert/registry. ERROR_BADDB when that file cannot be
// read as a registry (it is then never overwritten).

OLERT_EXPORT LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                     DWORD dwOptions, REGSAM samDesired,
                                     const void* lpSecurityAttributes, PHKEY phkResult,
                                     DWORD* lpdwDisposition);
OLERT_EXPORT LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                   REGSAM samDesired, PHKEY phkResult);
OLERT_EXPORT LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData);
OLERT_EXPORT LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved,
                                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has).
OLERT_EXPORT LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
OLERT_EXPORT LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
// Subkeys in alphabetical order (case-insensitive); ERROR_NO_MORE_ITEMS past
// the last. *lpcchName holds the buffer size in, the length without NUL out.
OLERT_EXPORT LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName,
                                   DWORD* lpReserved, LPSTR lpClass, DWORD* lpcchClass,
                                   FILETIME* lpftLastWriteTime);
OLERT_EXPORT LSTATUS RegCloseKey(HKEY hKey);

}  // extern "C"

#endif  // QUILL_PLATFORM_OLERT_OLERT_H_
