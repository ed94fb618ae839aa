// The combined-format access log.
#include "host/asp/access_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace quill::asp {

namespace {

std::string Escaped(const std::string& text) {
  if (text.empty()) return "-";
  std::string out;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02X", u);
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string CombinedLogLine(const AccessEntry& e) {
  const std::time_t t = std::chrono::system_clock::to_time_t(e.when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char when[40];
  std::strftime(when, sizeof(when), "%d/%b/%Y:%H:%M:%S +0000", &tm);
  std::string line = Escaped(e.remote_addr) + " - - [" + when + "] \"" + Escaped(e.method) + " " +
                     Escaped(e.target) + " " + Escaped(e.version) + "\" " + std::to_string(e.status) + " " +
                     (e.bytes == 0 ? std::string("-") : std::to_string(e.bytes)) + " \"" + Escaped(e.referer) +
                     "\" \"" + Escaped(e.user_agent) + "\"";
  return line;
}

AccessLog::AccessLog(std::string path) : path_(std::move(path)) {
  file_ = std::fopen(path_.c_str(), "a");
  if (file_ == nullptr) {
    throw std::runtime_error("cannot open the access log " + path_ + ": " + std::strerror(errno));
  }
}

AccessLog::~AccessLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void AccessLog::Write(const AccessEntry& entry) {
  const std::string line = CombinedLogLine(entry) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void AccessLog::Reopen() {
  FILE* fresh = std::fopen(path_.c_str(), "a");
  if (fresh == nullptr) {
    std::fprintf(stderr, "quill-asp: cannot reopen the access log %s: %s\n", path_.c_str(), std::strerror(errno));
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::fclose(file_);
  file_ = fresh;
}

}  // namespace quill::asp
