// bstr.cpp: BSTR allocation and task memory.
//
// A BSTR is one malloc'ed block: a 4-byte byte count, the characters, and a
// 2-byte NUL. The pointer handed out points at the first character, so a
// client can read the length at ptr - 4 exactly as on Windows. Every BSTR in
// the system is made and freed here; nothing else may free one.
#include <cstdlib>
#include <cstring>

#include "platform/olert/olert.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Largest byte count the 32-bit prefix can carry with room for the NUL.
constexpr size_t kMaxBytes = 0xFFFFFFFFu - kPrefix - sizeof(OLECHAR);

BSTR AllocBytes(const void* src, size_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  // Round up so that odd byte counts still get a whole OLECHAR terminator.
  size_t total = kPrefix + bytes + sizeof(OLECHAR) + (bytes & 1);
  // Without a source the text is zeros. calloc gives them for free where
  // the memory is fresh from the system (large strings, which callers fill
  // right after), instead of writing every page once more.
  auto* block = static_cast<unsigned char*>(src != nullptr ? std::malloc(total)
                                                           : std::calloc(1, total));
  if (block == nullptr) return nullptr;
  uint32_t len = static_cast<uint32_t>(bytes);
  std::memcpy(block, &len, kPrefix);
  unsigned char* text = block + kPrefix;
  if (src != nullptr) {
    std::memcpy(text, src, bytes);
    std::memset(text + bytes, 0, sizeof(OLECHAR) + (bytes & 1));
  }
  return reinterpret_cast<BSTR>(text);
}

size_t Length(const OLECHAR* psz) {
  size_t n = 0;
  while (psz[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  return AllocBytes(psz, Length(psz) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return AllocBytes(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return AllocBytes(psz, len); }

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (pbstr == nullptr) return FALSE;
  BSTR fresh = SysAllocStringLen(psz, len);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  // A null source leaves a null BSTR behind, as the allocation of null does.
  if (psz == nullptr) {
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(Length(psz)));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(bstrString) - kPrefix);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t len;
  std::memcpy(&len, reinterpret_cast<unsigned char*>(bstr) - kPrefix, kPrefix);
  return len;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }

void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }

void CoTaskMemFree(void* pv) { std::free(pv); }

}  // extern "C"
