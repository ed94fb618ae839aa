// The token copier of the template engine and the two template sources it
// reads from (memory and file). The page producers drive it; nothing here
// knows about tags beyond what ReadUpTo needs.
#include "script_object/copy_parser.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace quill {

namespace {

bool IsSymbolStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsSymbolChar(unsigned char c) { return IsSymbolStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

size_t TStringSource::Read(char* dest, size_t count) {
  const size_t n = std::min(count, text_.size() - pos_);
  if (n > 0) std::memcpy(dest, text_.data() + pos_, n);
  pos_ += n;
  return n;
}

TFileSource::TFileSource(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  bool ok = fd_ >= 0 && ::fstat(fd_, &st) == 0 && !S_ISDIR(st.st_mode);
  // Others may read along, but a writer that holds the file exclusively
  // keeps us out rather than letting us render half a template.
  if (ok && ::flock(fd_, LOCK_SH | LOCK_NB) != 0) ok = false;
  if (!ok) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file " + path);
  }
}

TFileSource::~TFileSource() {
  if (fd_ >= 0) ::close(fd_);  // also drops the lock
}

size_t TFileSource::Read(char* dest, size_t count) {
  for (;;) {
    const ssize_t n = ::read(fd_, dest, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw EFOpenError("Cannot read file " + path_);
  }
}

TCopyParser::TCopyParser(TTextSource& source, std::string& output)
    : source_(source), output_(output), buffer_(new char[kBufferSize]) {
  char* const buf = buffer_.get();
  buf[0] = '\0';
  buf_end_ = source_ptr_ = source_end_ = token_ptr_ = buf;
  ReadToken(true);
}

void TCopyParser::FillBuffer() {
  char* const buf = buffer_.get();
  *source_end_ = saved_char_;
  const size_t unread = static_cast<size_t>(buf_end_ - source_ptr_);
  std::memmove(buf, source_ptr_, unread);
  size_t filled = unread;
  while (filled < kBufferSize) {
    const size_t n = source_.Read(buf + filled, kBufferSize - filled);
    if (n == 0) break;
    filled += n;
  }
  buf_end_ = buf + filled;
  source_ptr_ = token_ptr_ = buf;
  source_end_ = buf_end_;
  if (filled == kBufferSize) {
    // The sentinel needs a byte of its own, and a read must never stop in
    // the middle of a line, so a full buffer ends after its last line feed.
    char* p = buf + kBufferSize - 2;
    while (p > buf && *p != '\n') --p;
    if (p == buf) {
      source_end_ = buf;  // keep the object consistent for the destructor
      saved_char_ = *buf;
      throw EParserError("Line too long on line " + std::to_string(line_));
    }
    source_end_ = p + 1;
  }
  assert(source_end_ < buf + kBufferSize || filled < kBufferSize);
  saved_char_ = *source_end_;
  *source_end_ = '\0';
}

void TCopyParser::SkipSpace(bool copy, std::string* collect) {
  for (;;) {
    const char* start = source_ptr_;
    unsigned char c;
    while ((c = static_cast<unsigned char>(*source_ptr_)) >= 1 && c <= 32) {
      if (c == '\n') ++line_;
      ++source_ptr_;
    }
    if (source_ptr_ != start) {
      const size_t n = static_cast<size_t>(source_ptr_ - start);
      if (copy) output_.append(start, n);
      if (collect != nullptr) collect->append(start, n);
    }
    if (*source_ptr_ != '\0') return;
    FillBuffer();
    if (*source_ptr_ == '\0') return;
  }
}

int TCopyParser::ReadToken(bool copy_blanks, bool copy_token) {
  SkipSpace(copy_blanks);
  token_ptr_ = source_ptr_;
  const unsigned char c = static_cast<unsigned char>(*source_ptr_);
  if (IsSymbolStart(c)) {
    ++source_ptr_;
    while (IsSymbolChar(static_cast<unsigned char>(*source_ptr_))) ++source_ptr_;
    token_ = kSymbol;
  } else if (c == 0) {
    token_ = kEndOfText;
  } else {
    ++source_ptr_;
    token_ = c;
  }
  if (copy_token) CopyToken();
  return token_;
}

void TCopyParser::CopyToken() {
  output_.append(token_ptr_, static_cast<size_t>(source_ptr_ - token_ptr_));
}

std::string TCopyParser::ReadUpTo(char target) {
  const int wanted = static_cast<unsigned char>(target);
  std::string result;
  while (token_ != wanted && token_ != kEndOfText) {
    SkipSpace(false, &result);
    ReadToken(false);
    if (token_ != wanted) result.append(CurrentText());
  }
  return result;
}

}  // namespace quill
