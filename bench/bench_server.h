// What the benchmarks share: the private test server's settings from the
// environment that scripts/test-server prints, and a connection to it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mysql_server/mysql_server.h"

namespace bench {

inline std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v != nullptr ? v : fallback;
}

// Connects `server` to the private test server's database; exits with 2 and
// a hint when the settings are missing.
inline void ConnectTestServer(quill::TMySQLServer& server) {
  if (Env("QUILL_TEST_USER").empty()) {
    std::fprintf(stderr, "no private test server: eval \"$(scripts/test-server start)\" first\n");
    std::exit(2);
  }
  server.SetLoginPrompt(false);
  server.SetHost(Env("QUILL_TEST_HOST", "127.0.0.1"));
  server.SetPort(static_cast<uint16_t>(std::atoi(Env("QUILL_TEST_PORT", "3306").c_str())));
  server.SetUserName(Env("QUILL_TEST_USER"));
  server.SetPassword(Env("QUILL_TEST_PASSWORD"));
  server.SetDatabaseName(Env("QUILL_TEST_DB", "quill_test"));
  server.Connect();
}

}  // namespace bench
