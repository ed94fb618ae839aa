// AccessLog: one line per answered request in the combined format that log
// tools read:
//   host - - [day/Mon/year:hh:mm:ss +0000] "GET /p.asp?x=1 HTTP/1.1" 200 1234 "referer" "agent"
// Reopen (on SIGHUP) lets a log rotator move the file away first. Safe from
// any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace quill::asp {

struct AccessEntry {
  std::string remote_addr;
  std::chrono::system_clock::time_point when;
  std::string method;
  std::string target;
  std::string version;
  int status = 0;
  uint64_t bytes = 0;
  std::string referer;
  std::string user_agent;
};

// The line of `entry`, without the newline. What the client sent is
// escaped (quotes, backslashes and control bytes as \xHH).
std::string CombinedLogLine(const AccessEntry& entry);

class AccessLog {
 public:
  // Opens `path` for appending; raises std::runtime_error when it cannot.
  explicit AccessLog(std::string path);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  void Write(const AccessEntry& entry);
  // Opens the file by its name again; keeps the old one when that fails
  // (and says so on stderr).
  void Reopen();

 private:
  std::string path_;
  std::mutex mutex_;
  FILE* file_ = nullptr;
};

}  // namespace quill::asp
