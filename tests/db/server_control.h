// Stopping and starting the private test server from a db test, for the
// tests of server faults. Only scripts/test-server is used, with the state
// directory and the port of the server the tests were given
// (QUILL_TEST_SERVER_DIR, QUILL_TEST_PORT): the server is stopped by the pid
// that script recorded, never by name, and it comes back on the same port.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_server.h"

#ifndef QUILL_SOURCE_DIR
#error "QUILL_SOURCE_DIR must name the source tree (for scripts/test-server)"
#endif

namespace quill::test {

class ServerControl {
 public:
  // The state directory from the environment; empty when the tests were not
  // given one (then the server cannot be restarted).
  static std::string StateDir() {
    const char* dir = std::getenv("QUILL_TEST_SERVER_DIR");
    return dir != nullptr ? std::string(dir) : std::string();
  }

  explicit ServerControl(const TestServerSettings& settings) : port_(settings.port) {}

  bool Available() const { return !StateDir().empty(); }

  // `scripts/test-server VERB`; true when it exits 0. Its messages are kept
  // in Output() for failure reports.
  bool Run(const std::string& verb) {
    const std::string command = "QUILL_SERVER_DIR='" + StateDir() + "' QUILL_TEST_PORT=" +
                                std::to_string(port_) + " '" QUILL_SOURCE_DIR "/scripts/test-server' " +
                                verb + " 2>&1";
    output_.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    std::array<char, 1024> buffer;
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output_.append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  bool Stop() { return Run("stop"); }
  bool Start() { return Run("start"); }
  bool Running() { return Run("status"); }
  bool Restart() { return Stop() && Start(); }
  // Starts the server unless it answers; every test that stops it ends so.
  bool EnsureRunning() { return Running() || Start(); }

  const std::string& Output() const { return output_; }

 private:
  unsigned port_;
  std::string output_;
};

}  // namespace quill::test
