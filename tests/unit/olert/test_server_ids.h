// test_server_ids.h: the identity of the in-process test server module.
#ifndef QUILL_TESTS_UNIT_OLERT_TEST_SERVER_IDS_H_
#define QUILL_TESTS_UNIT_OLERT_TEST_SERVER_IDS_H_

#include "platform/olert/olert.h"

// {5C0E55A1-7B1D-4E53-9A3A-0A1B2C3D4E5F}
inline const CLSID kTestServerClsid = {0x5C0E55A1, 0x7B1D, 0x4E53,
                                       {0x9A, 0x3A, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
inline constexpr const char* kTestServerClsidText = "{5C0E55A1-7B1D-4E53-9A3A-0A1B2C3D4E5F}";
inline constexpr const char* kTestServerProgId = "Olert.TestServer";
// The value of the test object's default property.
inline constexpr LONG kTestServerValue = 4711;

#endif  // QUILL_TESTS_UNIT_OLERT_TEST_SERVER_IDS_H_
