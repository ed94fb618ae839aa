// The registry: names without regard to case, default values, deletion
// rules, bad input, a corrupt file left untouched, and writers in several
// processes at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::ScopedRegistry;

HKEY Create(HKEY parent, const char* path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &key, disposition),
            ERROR_SUCCESS)
      << path;
  return key;
}

LSTATUS SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

// The string value, or "<error N>".
std::string GetString(HKEY key, const char* name) {
  char buf[512];
  DWORD size = sizeof buf, type = 0;
  LSTATUS s = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (s != ERROR_SUCCESS) return "<error " + std::to_string(s) + ">";
  EXPECT_EQ(type, REG_SZ);
  return std::string(buf, size > 0 ? size - 1 : 0);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Registry, ValuesRoundTripWithNamesIgnoringCase) {
  ScopedRegistry reg;
  DWORD disposition = 0;
  HKEY key = Create(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetString(key, nullptr, "/opt/quill/Quill.so"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
  RegCloseKey(key);

  HKEY again = Create(HKEY_CLASSES_ROOT, "clsid\\{abc}\\INPROCSERVER32", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetString(again, ""), "/opt/quill/Quill.so");  // "" and null both name the default
  EXPECT_EQ(GetString(again, "threadingmodel"), "Apartment");
  EXPECT_EQ(GetString(again, "Missing"), "<error 2>");
  RegCloseKey(again);

  // The key keeps the spelling it was created with.
  HKEY clsid;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
  char name[64];
  DWORD cch = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(clsid, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{ABC}");
  EXPECT_EQ(cch, 5u);
  RegCloseKey(clsid);
}

TEST(Registry, QueryReportsSizeTypeAndShortBuffers) {
  ScopedRegistry reg;
  HKEY key = Create(HKEY_CLASSES_ROOT, "Kinds");
  DWORD number = 0x01020304;
  const char binary[] = {'a', '\0', '"', '%', ']', '\n', '\xff'};
  ASSERT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Odd \"name\" = [x]\n", 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(binary), sizeof binary),
            ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "Text", "100% \"quoted\" [brackets] \\ back\tslash"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "NUMBER", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  DWORD got = 0;
  ASSERT_EQ(RegQueryValueExA(key, "number", nullptr, nullptr, reinterpret_cast<BYTE*>(&got), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(got, number);

  char buf[32];
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "odd \"NAME\" = [x]\n", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof binary);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(RegQueryValueExA(key, "odd \"NAME\" = [x]\n", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(buf, binary, sizeof binary), 0);
  EXPECT_EQ(GetString(key, "text"), "100% \"quoted\" [brackets] \\ back\tslash");
  size = 99;
  ASSERT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Text", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST(Registry, DeletionFollowsWindowsRules) {
  ScopedRegistry reg;
  HKEY parent = Create(HKEY_CLASSES_ROOT, "Harrow.Quill");
  HKEY child = Create(parent, "Clsid");
  ASSERT_EQ(SetString(child, nullptr, "{X}"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Harrow.Quill"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(RegDeleteValueA(child, "nothing"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegDeleteValueA(child, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(GetString(child, nullptr), "<error 2>");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "HARROW.QUILL\\CLSID"), ERROR_SUCCESS);
  // The open handle now names a key that is gone.
  EXPECT_EQ(SetString(child, "x", "y"), ERROR_KEY_DELETED);
  EXPECT_EQ(GetString(child, "x"), "<error 1018>");
  ASSERT_EQ(RegDeleteKeyA(parent, ""), ERROR_SUCCESS);  // the handle's own key
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Harrow.Quill"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);  // a root stays
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);
  HKEY gone = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Harrow.Quill", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(gone, nullptr);
  RegCloseKey(child);
  RegCloseKey(parent);
}

TEST(Registry, BadHandlesPathsAndRightsAreRefused) {
  ScopedRegistry reg;
  HKEY key = Create(HKEY_CLASSES_ROOT, "A");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(key, "x", "y"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  HKEY made_up = reinterpret_cast<HKEY>(0x7777);
  EXPECT_EQ(GetString(made_up, "x"), "<error 6>");

  HKEY out = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &out, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "a", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(HKEY_CLASSES_ROOT, "v", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);

  HKEY read_only;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &read_only), ERROR_SUCCESS);
  EXPECT_EQ(SetString(read_only, "x", "y"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(read_only, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(read_only, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(read_only);
  HKEY write_only;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_SET_VALUE, &write_only), ERROR_SUCCESS);
  EXPECT_EQ(GetString(write_only, "x"), "<error 5>");
  RegCloseKey(write_only);
}

TEST(Registry, EnumeratesSubkeysAlphabetically) {
  ScopedRegistry reg;
  HKEY root = Create(HKEY_CLASSES_ROOT, "Enum");
  for (const char* name : {"charlie", "Alpha", "bravo"}) RegCloseKey(Create(root, name));
  std::string seen;
  char name[16];
  DWORD i = 0;
  for (;; ++i) {
    DWORD cch = sizeof name;
    LSTATUS s = RegEnumKeyExA(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    seen += std::string(name) + ",";
  }
  EXPECT_EQ(seen, "Alpha,bravo,charlie,");
  DWORD cch = 5;  // "Alpha" needs 6 with its NUL
  EXPECT_EQ(RegEnumKeyExA(root, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(root);
}

TEST(Registry, FileIsTextWrittenByRenameOnly) {
  ScopedRegistry reg;
  HKEY key = Create(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32");
  ASSERT_EQ(SetString(key, nullptr, "/x/Quill.so"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text = ReadFile(reg.path());
  EXPECT_EQ(text,
            "olert-registry 1\n"
            "[HKEY_CLASSES_ROOT\\CLSID]\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{ABC}]\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{ABC}\\InprocServer32]\n"
            "@=sz:\"/x/Quill.so\"\n"
            "\"ThreadingModel\"=sz:\"Apartment\"\n");
  for (const auto& entry : std::filesystem::directory_iterator(reg.dir())) {
    std::string name = entry.path().filename();
    EXPECT_TRUE(name == "registry" || name == "registry.lock") << name;  // no temp files left
  }
}

// Reads come from the tree parsed once per version of the file: a write
// through the runtime, and a file another writer put in place, are seen by
// the very next read, even when they come faster than file times change
// and keep the size.
TEST(Registry, ReadsSeeEveryWriteAtOnce) {
  ScopedRegistry reg;
  HKEY key = Create(HKEY_CLASSES_ROOT, "Cached.Class\\CLSID");
  for (char c = 'a'; c <= 'z'; ++c) {
    ASSERT_EQ(SetString(key, nullptr, std::string(1, c)), ERROR_SUCCESS);
    ASSERT_EQ(GetString(key, nullptr), std::string(1, c));
  }
  const std::string guid = "{00000000-0000-0000-0000-00000000000A}";
  ASSERT_EQ(SetString(key, nullptr, guid), ERROR_SUCCESS);
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Cached.Class", &clsid), S_OK);
  EXPECT_EQ(clsid.Data4[7], 0x0A);
  for (int round = 0; round < 2; ++round) {  // another writer's file, renamed into place
    std::string text = ReadFile(reg.path());
    text.replace(text.find(round == 0 ? "0A}" : "0B}"), 2, round == 0 ? "0B" : "0C");
    std::ofstream(reg.path() + ".new") << text;
    std::filesystem::rename(reg.path() + ".new", reg.path());
    ASSERT_EQ(CLSIDFromProgID(u"Cached.Class", &clsid), S_OK);
    EXPECT_EQ(clsid.Data4[7], round == 0 ? 0x0B : 0x0C);
    EXPECT_EQ(GetString(key, nullptr).substr(35), round == 0 ? "0B}" : "0C}");
  }
  RegCloseKey(key);
}

TEST(Registry, HandWrittenFileIsRead) {
  ScopedRegistry reg;
  std::ofstream(reg.path()) << "olert-registry 1\r\n"
                               "; written by hand\n"
                               "\n"
                               "[HKEY_CLASSES_ROOT\\My%5BKey%5D]\n"
                               "@=expand_sz:\"%25HOME%25\"\n"
                               "\"Flags\"=dword:0000000a\n"
                               "\"Raw\"=hex(11):0102030405060708\n"
                               "\"None\"=hex(0):\n";
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "my[key]", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type, size = 0;
  char buf[16];
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_STREQ(buf, "%HOME%");
  DWORD flags = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "flags", nullptr, &type, reinterpret_cast<BYTE*>(&flags), &size), ERROR_SUCCESS);
  EXPECT_EQ(flags, 10u);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "raw", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_QWORD);
  EXPECT_EQ(size, 8u);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key, "none", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);
  RegCloseKey(key);
}

TEST(Registry, CorruptFileIsReportedAndNeverReplaced) {
  const char* corrupt[] = {
      "not a registry\n",
      "olert-registry 2\n",
      "olert-registry 1\n\"orphan\"=sz:\"value before any key\"\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=qword:1\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=dword:123\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=hex(3):abc\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=sz:\"bad %G1 escape\"\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=sz:\"unterminated\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n[HKEY_CLASSES_ROOT\\a]\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A]\n\"x\"=sz:\"1\"\n\"X\"=sz:\"2\"\n",
      "olert-registry 1\n[HKEY_NOWHERE\\A]\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\\\A]\n",
      "olert-registry 1\n[HKEY_CLASSES_ROOT\\A\n",
      "olert-registry 1\nstray line\n",
  };
  for (const char* text : corrupt) {
    SCOPED_TRACE(text);
    ScopedRegistry reg;
    std::ofstream(reg.path(), std::ios::binary) << text;
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(SetString(HKEY_CLASSES_ROOT, "v", "x"), ERROR_BADDB);
    EXPECT_EQ(GetString(HKEY_CLASSES_ROOT, "v"), "<error 1009>");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "A"), ERROR_BADDB);
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"A", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(ReadFile(reg.path()), text);
  }
}

TEST(Registry, FallsBackToTheHomeDirectory) {
  ScopedRegistry scratch;  // only for its directory
  std::string old_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  unsetenv("OLE_REGISTRY");
  setenv("HOME", scratch.dir().c_str(), 1);
  HKEY key = Create(HKEY_CLASSES_ROOT, "AtHome");
  RegCloseKey(key);
  setenv("HOME", old_home.c_str(), 1);
  EXPECT_TRUE(std::filesystem::exists(scratch.dir() + "/.local/share/olert/registry"));
}

TEST(Registry, AnotherProcessSeesWritesAndWritersDoNotLoseEachOther) {
  ScopedRegistry reg;
  HKEY key = Create(HKEY_CLASSES_ROOT, "Shared");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HKEY k;
    bool ok = RegOpenKeyExA(HKEY_CLASSES_ROOT, "shared", 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS &&
              SetString(k, "FromChild", "hello") == ERROR_SUCCESS;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(GetString(key, "fromchild"), "hello");

  // Two children and this process write distinct values at the same time.
  constexpr int kPerWriter = 30;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      bool ok = true;
      for (int i = 0; i < kPerWriter; ++i) {
        std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
        ok = ok && SetString(key, name.c_str(), name) == ERROR_SUCCESS;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (int i = 0; i < kPerWriter; ++i) {
    std::string name = "parent-" + std::to_string(i);
    ASSERT_EQ(SetString(key, name.c_str(), name), ERROR_SUCCESS);
  }
  for (pid_t w : writers) {
    waitpid(w, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (const char* prefix : {"w0-", "w1-", "parent-"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      std::string name = prefix + std::to_string(i);
      EXPECT_EQ(GetString(key, name.c_str()), name);
    }
  }
  RegCloseKey(key);
}

TEST(Registry, MangledFilesAreEitherReadOrRefused) {
  const std::string valid =
      "olert-registry 1\n"
      "[HKEY_CLASSES_ROOT\\A]\n"
      "@=sz:\"x%25y\"\n"
      "\"Flags\"=dword:0000000a\n"
      "[HKEY_CLASSES_ROOT\\A\\B]\n"
      "\"Raw\"=hex(3):00ff\n";
  const char kBytes[] = "[]\\\"=@%:\n\r;ABab019fxz(3) \x01\xff";
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string text = valid;
    for (int edits = 1 + rng() % 3; edits > 0; --edits) {
      size_t at = rng() % (text.size() + 1);
      char c = kBytes[rng() % (sizeof kBytes - 1)];
      switch (rng() % 3) {
        case 0: text.insert(at, 1, c); break;
        case 1: if (at < text.size()) text.erase(at, 1); break;
        default: if (at < text.size()) text[at] = c; break;
      }
    }
    SCOPED_TRACE(text);
    ScopedRegistry reg;
    std::ofstream(reg.path(), std::ios::binary) << text;
    HKEY key = nullptr;
    LSTATUS open = RegOpenKeyExA(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &key);
    ASSERT_TRUE(open == ERROR_SUCCESS || open == ERROR_FILE_NOT_FOUND || open == ERROR_BADDB) << open;
    if (key != nullptr) {
      char buf[64];
      DWORD size = sizeof buf;
      LSTATUS q = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
      EXPECT_TRUE(q == ERROR_SUCCESS || q == ERROR_FILE_NOT_FOUND) << q;
      RegCloseKey(key);
    }
    LSTATUS write = SetString(HKEY_CLASSES_ROOT, "new", "value");
    if (open == ERROR_BADDB) {
      EXPECT_EQ(write, ERROR_BADDB);
      EXPECT_EQ(ReadFile(reg.path()), text);
    } else {
      EXPECT_EQ(write, ERROR_SUCCESS);
      EXPECT_EQ(GetString(HKEY_CLASSES_ROOT, "new"), "value");
    }
  }
}

}  // namespace
