// A client that knows the runtime only by the binary contract: it loads
// libolert.so by path, finds every listed export with dlsym, declares the
// types itself, and calls through interface slots by number.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

typedef int32_t HRESULT;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;

struct GUID {
  uint32_t Data1;
  uint16_t Data2, Data3;
  uint8_t Data4[8];
};

struct VARIANT {
  uint16_t vt, r1, r2, r3;
  union {
    int32_t lVal;
    int64_t llVal;
    double dblVal;
    BSTR bstrVal;
    struct {
      void* a;
      void* b;
    } record;
  };
};
static_assert(sizeof(VARIANT) == 24);

struct SAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
};
struct SAFEARRAY {
  uint16_t cDims, fFeatures;
  uint32_t cbElements, cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

const char* const kExports[] = {
    "SysAllocString", "SysAllocStringLen", "SysFreeString", "SysStringLen", "VariantInit",
    "VariantClear", "VariantCopy", "VariantChangeType", "SafeArrayCreate", "SafeArrayCreateVector",
    "SafeArrayDestroy", "SafeArrayGetDim", "SafeArrayGetLBound", "SafeArrayGetUBound",
    "SafeArrayGetElement", "SafeArrayPutElement", "SafeArrayAccessData", "SafeArrayUnaccessData",
    "CreateErrorInfo", "SetErrorInfo", "GetErrorInfo", "CoInitializeEx", "CoUninitialize",
    "CLSIDFromProgID", "CLSIDFromString", "StringFromGUID2", "CoGetClassObject", "CoCreateInstance",
    "RegCreateKeyExA", "RegOpenKeyExA", "RegSetValueExA", "RegQueryValueExA", "RegDeleteKeyA",
    "RegCloseKey", "IID_IUnknown", "IID_IDispatch", "IID_IClassFactory", "IID_IErrorInfo",
    "IID_ISupportErrorInfo", "IID_NULL",
};

class AbiClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lib_ = dlopen(OLERT_LIBRARY, RTLD_NOW | RTLD_LOCAL); }
  template <typename F>
  F Fn(const char* name) {
    return reinterpret_cast<F>(dlsym(lib_, name));
  }
  static void* lib_;
};
void* AbiClient::lib_ = nullptr;

// Slot k of an interface's vtable, called with the object as first argument.
template <typename F>
F Slot(void* object, int k) {
  return reinterpret_cast<F>((*static_cast<void***>(object))[k]);
}

TEST_F(AbiClient, EveryContractExportIsThere) {
  ASSERT_NE(lib_, nullptr) << dlerror();
  for (const char* name : kExports) EXPECT_NE(dlsym(lib_, name), nullptr) << name;
}

TEST_F(AbiClient, StringsAndVariants) {
  ASSERT_NE(lib_, nullptr);
  auto alloc_len = Fn<BSTR (*)(const OLECHAR*, uint32_t)>("SysAllocStringLen");
  auto len = Fn<uint32_t (*)(BSTR)>("SysStringLen");
  auto free_string = Fn<void (*)(BSTR)>("SysFreeString");
  BSTR b = alloc_len(u"ab\0c", 4);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(len(b), 4u);
  EXPECT_EQ(len(nullptr), 0u);
  free_string(b);

  auto init = Fn<void (*)(VARIANT*)>("VariantInit");
  auto clear = Fn<HRESULT (*)(VARIANT*)>("VariantClear");
  auto change = Fn<HRESULT (*)(VARIANT*, const VARIANT*, uint16_t, uint16_t)>("VariantChangeType");
  VARIANT src, dst;
  init(&src);
  init(&dst);
  src.vt = 3;  // VT_I4
  src.lVal = 42;
  ASSERT_EQ(change(&dst, &src, 0, 8), 0);  // to VT_BSTR
  EXPECT_EQ(dst.vt, 8);
  EXPECT_EQ(std::u16string(dst.bstrVal, len(dst.bstrVal)), u"42");
  EXPECT_EQ(change(&src, &dst, 0, 5), 0);  // to VT_R8, in another variant
  EXPECT_EQ(src.dblVal, 42.0);
  EXPECT_EQ(clear(&dst), 0);
  EXPECT_EQ(dst.vt, 0);
}

TEST_F(AbiClient, SafeArrays) {
  ASSERT_NE(lib_, nullptr);
  auto create_vector = Fn<SAFEARRAY* (*)(uint16_t, int32_t, uint32_t)>("SafeArrayCreateVector");
  auto put = Fn<HRESULT (*)(SAFEARRAY*, int32_t*, void*)>("SafeArrayPutElement");
  auto get = Fn<HRESULT (*)(SAFEARRAY*, int32_t*, void*)>("SafeArrayGetElement");
  auto lbound = Fn<HRESULT (*)(SAFEARRAY*, uint32_t, int32_t*)>("SafeArrayGetLBound");
  auto ubound = Fn<HRESULT (*)(SAFEARRAY*, uint32_t, int32_t*)>("SafeArrayGetUBound");
  auto access = Fn<HRESULT (*)(SAFEARRAY*, void**)>("SafeArrayAccessData");
  auto unaccess = Fn<HRESULT (*)(SAFEARRAY*)>("SafeArrayUnaccessData");
  auto destroy = Fn<HRESULT (*)(SAFEARRAY*)>("SafeArrayDestroy");
  SAFEARRAY* psa = create_vector(3, -1, 3);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(psa->cDims, 1);
  EXPECT_EQ(psa->cbElements, 4u);
  int32_t lo, hi;
  ASSERT_EQ(lbound(psa, 1, &lo), 0);
  ASSERT_EQ(ubound(psa, 1, &hi), 0);
  EXPECT_EQ(lo, -1);
  EXPECT_EQ(hi, 1);
  int32_t index = 0, value = 77, back = 0;
  ASSERT_EQ(put(psa, &index, &value), 0);
  ASSERT_EQ(get(psa, &index, &back), 0);
  EXPECT_EQ(back, 77);
  void* data;
  ASSERT_EQ(access(psa, &data), 0);
  EXPECT_EQ(static_cast<int32_t*>(data)[1], 77);
  EXPECT_EQ(destroy(psa), static_cast<HRESULT>(0x8002000D));  // locked
  ASSERT_EQ(unaccess(psa), 0);
  EXPECT_EQ(destroy(psa), 0);
}

TEST_F(AbiClient, GuidsAndErrorInfoThroughVtableSlots) {
  ASSERT_NE(lib_, nullptr);
  auto to_text = Fn<int (*)(const GUID&, OLECHAR*, int)>("StringFromGUID2");
  auto from_text = Fn<HRESULT (*)(const OLECHAR*, GUID*)>("CLSIDFromString");
  auto* iid_dispatch = Fn<const GUID*>("IID_IDispatch");
  auto* iid_error_info = Fn<const GUID*>("IID_IErrorInfo");
  OLECHAR buf[40];
  ASSERT_EQ(to_text(*iid_dispatch, buf, 40), 39);
  EXPECT_EQ(std::u16string(buf), u"{00020400-0000-0000-C000-000000000046}");
  GUID back;
  ASSERT_EQ(from_text(buf, &back), 0);
  EXPECT_EQ(std::memcmp(&back, iid_dispatch, sizeof back), 0);

  auto create = Fn<HRESULT (*)(void**)>("CreateErrorInfo");
  auto set = Fn<HRESULT (*)(uint32_t, void*)>("SetErrorInfo");
  auto take = Fn<HRESULT (*)(uint32_t, void**)>("GetErrorInfo");
  void* creator = nullptr;
  ASSERT_EQ(create(&creator), 0);
  // ICreateErrorInfo: QueryInterface 0, AddRef 1, Release 2, SetGUID 3,
  // SetSource 4, SetDescription 5.
  ASSERT_EQ((Slot<HRESULT (*)(void*, const OLECHAR*)>(creator, 5))(creator, u"described"), 0);
  void* info = nullptr;
  ASSERT_EQ((Slot<HRESULT (*)(void*, const GUID&, void**)>(creator, 0))(creator, *iid_error_info, &info), 0);
  (Slot<uint32_t (*)(void*)>(creator, 2))(creator);
  ASSERT_EQ(set(0, info), 0);
  (Slot<uint32_t (*)(void*)>(info, 2))(info);
  void* taken = nullptr;
  ASSERT_EQ(take(0, &taken), 0);
  ASSERT_EQ(taken, info);
  // IErrorInfo: ..., GetGUID 3, GetSource 4, GetDescription 5.
  BSTR description = nullptr;
  ASSERT_EQ((Slot<HRESULT (*)(void*, BSTR*)>(taken, 5))(taken, &description), 0);
  EXPECT_EQ(std::u16string(description), u"described");
  Fn<void (*)(BSTR)>("SysFreeString")(description);
  (Slot<uint32_t (*)(void*)>(taken, 2))(taken);
  EXPECT_EQ(take(0, &taken), 1);  // S_FALSE: the slot was emptied
}

TEST_F(AbiClient, RegistryAndActivation) {
  ASSERT_NE(lib_, nullptr);
  char pattern[] = "/tmp/olert-abi-XXXXXX";
  std::string dir = mkdtemp(pattern);
  setenv("OLE_REGISTRY", (dir + "/registry").c_str(), 1);
  void* const hkcr = reinterpret_cast<void*>(static_cast<uintptr_t>(0x80000000u));
  auto create_key = Fn<int32_t (*)(void*, const char*, uint32_t, char*, uint32_t, uint32_t, const void*,
                                   void**, uint32_t*)>("RegCreateKeyExA");
  auto open_key = Fn<int32_t (*)(void*, const char*, uint32_t, uint32_t, void**)>("RegOpenKeyExA");
  auto set_value = Fn<int32_t (*)(void*, const char*, uint32_t, uint32_t, const uint8_t*, uint32_t)>(
      "RegSetValueExA");
  auto query_value = Fn<int32_t (*)(void*, const char*, uint32_t*, uint32_t*, uint8_t*, uint32_t*)>(
      "RegQueryValueExA");
  auto close_key = Fn<int32_t (*)(void*)>("RegCloseKey");
  auto delete_key = Fn<int32_t (*)(void*, const char*)>("RegDeleteKeyA");
  void* key = nullptr;
  uint32_t disposition = 0;
  ASSERT_EQ(create_key(hkcr, "Abi\\Test", 0, nullptr, 0, 0xF003F, nullptr, &key, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  ASSERT_EQ(set_value(key, "Name", 0, 1, reinterpret_cast<const uint8_t*>("value"), 6), 0);
  ASSERT_EQ(close_key(key), 0);
  ASSERT_EQ(open_key(hkcr, "ABI\\TEST", 0, 0x20019, &key), 0);
  char buf[16];
  uint32_t size = sizeof buf, type = 0;
  ASSERT_EQ(query_value(key, "name", nullptr, &type, reinterpret_cast<uint8_t*>(buf), &size), 0);
  EXPECT_EQ(type, 1u);
  EXPECT_STREQ(buf, "value");
  ASSERT_EQ(close_key(key), 0);
  EXPECT_EQ(delete_key(hkcr, "Abi"), 5);  // ERROR_ACCESS_DENIED: has a subkey
  EXPECT_EQ(delete_key(hkcr, "Abi\\Test"), 0);

  auto co_init = Fn<HRESULT (*)(void*, uint32_t)>("CoInitializeEx");
  auto co_uninit = Fn<void (*)()>("CoUninitialize");
  auto co_create = Fn<HRESULT (*)(const GUID&, void*, uint32_t, const GUID&, void**)>("CoCreateInstance");
  auto progid = Fn<HRESULT (*)(const OLECHAR*, GUID*)>("CLSIDFromProgID");
  ASSERT_EQ(co_init(nullptr, 2), 0);
  GUID clsid;
  EXPECT_EQ(progid(u"Nobody.Registered", &clsid), static_cast<HRESULT>(0x800401F3));
  const GUID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(co_create(unknown, nullptr, 1, *Fn<const GUID*>("IID_IUnknown"), &object),
            static_cast<HRESULT>(0x80040154));
  EXPECT_EQ(object, nullptr);
  co_uninit();
  unsetenv("OLE_REGISTRY");
  std::filesystem::remove_all(dir);
}

}  // namespace
