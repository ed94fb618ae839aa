// Activation of an in-process server through a private registry: ProgID to
// CLSID, CLSID to module, module to class factory to object.
#include <gtest/gtest.h>

#include <string>

#include "olert_test_support.h"
#include "platform/olert/olert.h"
#include "test_server_ids.h"

namespace {

using olert_test::ScopedRegistry;
using olert_test::U16;

void SetDefault(const std::string& key_path, const std::string& value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefault(std::string("CLSID\\") + kTestServerClsidText + "\\InprocServer32", OLERT_TEST_SERVER);
    SetDefault(std::string(kTestServerProgId) + "\\CLSID", kTestServerClsidText);
  }
  ScopedRegistry registry_;
};

LONG DefaultValueOf(IDispatch* object) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(object->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                           nullptr),
            S_OK);
  return result.lVal;
}

TEST_F(Activation, CreatesAnObjectByProgId) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(U16(kTestServerProgId).c_str(), &clsid), S_OK);
  EXPECT_EQ(clsid, kTestServerClsid);
  ASSERT_EQ(CLSIDFromProgID(u"OLERT.testserver", &clsid), S_OK);  // names ignore case
  EXPECT_EQ(clsid, kTestServerClsid);
  ASSERT_EQ(CLSIDFromString(U16(kTestServerProgId).c_str(), &clsid), S_OK);
  EXPECT_EQ(clsid, kTestServerClsid);

  IDispatch* object = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(DefaultValueOf(object), kTestServerValue);
  object->Release();

  // A second creation reuses the loaded module.
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  object->Release();
}

TEST_F(Activation, ClassObjectIsTheFactory) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(kTestServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  object->Release();
  factory->Release();
}

TEST_F(Activation, FailuresAnswerACodeAndANullPointer) {
  void* const kJunk = reinterpret_cast<void*>(0x1234);
  CLSID clsid = IID_IDispatch;
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, CLSID_NULL);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromProgID(u"x", nullptr), E_INVALIDARG);

  const CLSID unknown = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* out = kJunk;
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);

  out = kJunk;  // the object does not answer this interface
  EXPECT_EQ(CoCreateInstance(kTestServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumVARIANT, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  out = kJunk;  // only out-of-process servers asked for
  EXPECT_EQ(CoCreateInstance(kTestServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(CoCreateInstance(kTestServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
  EXPECT_EQ(CoGetClassObject(kTestServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, nullptr),
            E_INVALIDARG);
}

TEST_F(Activation, BrokenRegistrationsAreReported) {
  const CLSID missing_module = {0x0BAD0001, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  const CLSID no_entry_point = {0x0BAD0002, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  SetDefault("CLSID\\{0BAD0001-0001-0002-0102-030405060708}\\InprocServer32",
             registry_.dir() + "/no-such-module.so");
  SetDefault("CLSID\\{0BAD0002-0001-0002-0102-030405060708}\\InprocServer32", OLERT_LIBRARY);
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(CoCreateInstance(missing_module, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(CoCreateInstance(no_entry_point, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out),
            CO_E_ERRORINDLL);
  EXPECT_EQ(out, nullptr);
  // A ProgID whose CLSID text is malformed.
  SetDefault("Broken.Class\\CLSID", "{not-a-guid}");
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Class", &clsid), CO_E_CLASSSTRING);
}

TEST(Apartment, InitialisationCountsPerThread) {
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many is harmless
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

}  // namespace
