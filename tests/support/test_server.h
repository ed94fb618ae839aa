// Settings of the private database server that the db tests run against.
//
// scripts/test-server starts a MariaDB instance of this working tree and
// publishes how to reach it in QUILL_TEST_* environment variables;
// scripts/with-test-server and scripts/run-tests set them before running the
// tests. A db test reads them here and skips itself when they are absent, so
// that running a db test binary by hand without a server is not a failure:
//
//   TEST(Connection, Opens) {
//     QUILL_REQUIRE_SERVER(server);
//     ... server.host, server.port, server.user ...
//   }
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace quill::test {

struct TestServerSettings {
  std::string host;      // QUILL_TEST_HOST, for TCP connections
  std::string socket;    // QUILL_TEST_SOCKET, the Unix socket of the same server
  std::string user;      // QUILL_TEST_USER, has every privilege
  std::string password;  // QUILL_TEST_PASSWORD
  std::string database;  // QUILL_TEST_DB, an empty database of the tests' own
  unsigned port = 0;     // QUILL_TEST_PORT
  bool sakila = false;   // QUILL_TEST_SAKILA=1: database "sakila" loaded (scripts/with-sakila)
};

// Returns the settings from the environment, or nothing when no private server
// was announced (QUILL_TEST_USER unset, or neither a host nor a socket, or a
// port that is not a number).
inline std::optional<TestServerSettings> TestServerFromEnv() {
  auto get = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
  };
  TestServerSettings s;
  s.host = get("QUILL_TEST_HOST");
  s.socket = get("QUILL_TEST_SOCKET");
  s.user = get("QUILL_TEST_USER");
  s.password = get("QUILL_TEST_PASSWORD");
  s.database = get("QUILL_TEST_DB");
  s.sakila = get("QUILL_TEST_SAKILA") == "1";
  if (s.user.empty() || (s.host.empty() && s.socket.empty())) return std::nullopt;
  const std::string port = get("QUILL_TEST_PORT");
  if (!port.empty()) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(port.c_str(), &end, 10);
    if (*end != '\0' || value == 0 || value > 65535) return std::nullopt;
    s.port = static_cast<unsigned>(value);
  }
  return s;
}

}  // namespace quill::test

// Declares `const quill::test::TestServerSettings& settings` in a test body
// (or SetUp), or skips the test when no private server was announced.
#define QUILL_REQUIRE_SERVER(settings)                                            \
  const auto settings##_from_env_ = ::quill::test::TestServerFromEnv();           \
  if (!settings##_from_env_)                                                      \
    GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests"; \
  const ::quill::test::TestServerSettings& settings = *settings##_from_env_

// As QUILL_REQUIRE_SERVER, and also skips unless the sakila sample database
// was loaded into that server.
#define QUILL_REQUIRE_SAKILA(settings)                                            \
  QUILL_REQUIRE_SERVER(settings);                                                 \
  if (!settings.sakila)                                                           \
    GTEST_SKIP() << "sakila not loaded: ctest runs these cases through scripts/with-sakila"
