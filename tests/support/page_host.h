// The page host for tests: a site folder of the test's own (TempSite),
// pages rendered in the test process, the host serving HTTP in the test
// process (ServedSite) or as a `quill-asp serve` child process
// (HostProcess), a client for it, and SiteTest, the fixture that puts these
// together.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "host/asp/http_host.h"
#include "host/asp/page_runner.h"
#include "support/test_server.h"

namespace quill::test {

// A folder of the test's own under the temporary directory, removed with
// this: the site root, and room next to it for files outside the site.
class TempSite {
 public:
  explicit TempSite(const std::string& name) {
    base_ = std::filesystem::temp_directory_path() / ("asp-" + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove_all(base_);
    std::filesystem::create_directories(base_ / "site");
  }
  ~TempSite() {
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  TempSite(const TempSite&) = delete;
  TempSite& operator=(const TempSite&) = delete;

  std::filesystem::path root() const { return base_ / "site"; }
  std::filesystem::path base() const { return base_; }

  // Writes `text` to `rel` under the site root (or, with outside, next to it).
  void Write(const std::string& rel, const std::string& text, bool outside = false) const {
    const std::filesystem::path file = (outside ? base_ : root()) / rel;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }

 private:
  std::filesystem::path base_;
};

// A JScript string literal of `text` (single-quoted), for settings that a
// test writes into a page.
inline std::string ScriptLiteral(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "'";
}

// The text of an include file whose Connect() answers a Quill object
// connected to the private server's test database.
inline std::string ConnectInclude(const TestServerSettings& s) {
  return "<% function Connect() {\n"
         "  var q = Server.CreateObject('Harrow.Quill');\n"
         "  q.Connect(" + ScriptLiteral(s.host) + ", " + ScriptLiteral(s.user) + ", " + ScriptLiteral(s.password) +
         ", " + std::to_string(s.port) + ", " + ScriptLiteral(s.database) + ");\n"
         "  return q;\n"
         "} %>";
}

// A request for `path` of the site: with `form`, a url-encoded POST.
inline asp::PageRequest SiteRequest(const std::string& path, const asp::NameValueList& form = {},
                                    const asp::NameValueList& query = {}) {
  asp::PageRequest request;
  request.url_path = path;
  if (!query.empty()) {
    request.query = query;
    request.query_string = asp::BuildUrlEncoded(query);
  }
  if (!form.empty()) {
    request.method = "POST";
    request.content_type = "application/x-www-form-urlencoded";
    request.form = form;
    request.body = asp::BuildUrlEncoded(form);
  }
  return request;
}

// Runs a shell command; answers its exit status (-1 when it did not exit)
// and its standard output.
inline std::pair<int, std::string> RunCommand(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  std::array<char, 4096> buffer;
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// A client of 127.0.0.1:port with timeouts, so that no test waits forever.
inline httplib::Client LocalClient(int port, int read_timeout_seconds = 20) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(5);
  client.set_read_timeout(read_timeout_seconds);
  return client;
}

// A PageServer on a free port, serving from a thread while it lives.
class ServedSite {
 public:
  explicit ServedSite(asp::ServeOptions options) {
    options.port = 0;
    server_ = std::make_unique<asp::PageServer>(options);
    port_ = server_->Bind();
    thread_ = std::thread([this] { server_->Serve(); });
    // Stop is lost on a server that does not run yet.
    for (int i = 0; i < 500 && !server_->running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~ServedSite() {
    server_->Stop();
    thread_.join();
  }
  ServedSite(const ServedSite&) = delete;
  ServedSite& operator=(const ServedSite&) = delete;

  int port() const { return port_; }
  asp::PageServer& server() { return *server_; }
  httplib::Client Client(int read_timeout_seconds = 20) const { return LocalClient(port_, read_timeout_seconds); }

 private:
  std::unique_ptr<asp::PageServer> server_;
  std::thread thread_;
  int port_ = 0;
};

// A site named after the running test: pages rendered in this process
// (Render), or served over HTTP on a free port of 127.0.0.1 (Serve, Client)
// until StopServing or the end of the test.
class SiteTest : public ::testing::Test {
 protected:
  SiteTest() : site_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

  asp::RenderResult Render(const std::string& path, const asp::NameValueList& form = {},
                           const asp::HostOptions& options = {}) const {
    const asp::SiteRoot root(site_.root());
    return asp::RenderPage(root, SiteRequest(path, form), options);
  }

  // Serves the site with `options`; its root and port are set here.
  void Serve(asp::ServeOptions options) {
    served_.reset();
    options.root = site_.root();
    served_ = std::make_unique<ServedSite>(std::move(options));
  }
  void StopServing() { served_.reset(); }
  httplib::Client Client(int read_timeout_seconds = 20) const { return served_->Client(read_timeout_seconds); }

  TempSite site_;
  std::unique_ptr<ServedSite> served_;
};

// A memory figure of a process in kB ("VmRSS", resident now; "VmHWM", its
// peak) from /proc; -1 when it cannot be read. pid 0: this process.
inline long MemoryKb(const char* field = "VmRSS", pid_t pid = 0) {
  std::ifstream status(pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = std::string(field) + ":";
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A child process running `argv`, its standard error in `log`. Killed
// (SIGKILL) if still running when this goes.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, std::string log) : log_(std::move(log)) {
    pid_ = fork();
    if (pid_ == 0) {
      if (std::freopen(log_.c_str(), "w", stderr) == nullptr) _exit(126);
      if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
  }
  bool Exited() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ <= 0;
  }
  // Waits (up to `seconds`) for the process to end; answers its exit
  // status, or -1 when it was killed or did not end.
  int WaitExit(int seconds) {
    int status = 0;
    for (int i = 0; i < seconds * 50; ++i) {
      if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  std::string log() const { return ReadWholeFile(log_); }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

// `program serve ARGS...` as a child process.
class HostProcess : public ChildProcess {
 public:
  HostProcess(const std::string& program, std::vector<std::string> args, std::string log)
      : ChildProcess(With(program, std::move(args)), std::move(log)) {}

  // Waits until the log says it serves; answers the TCP port (0 for a Unix
  // socket), or -1 when it did not start.
  int WaitServing() {
    const std::regex serving("serving .* on (http://[^:]+:([0-9]+)/|unix:)");
    for (int i = 0; i < 500; ++i) {
      std::smatch m;
      const std::string text = log();
      if (std::regex_search(text, m, serving)) return m[2].matched ? std::stoi(m[2]) : 0;
      if (Exited()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "quill-asp did not start: " << log();
    return -1;
  }

 private:
  static std::vector<std::string> With(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), {program, "serve"});
    return args;
  }
};

}  // namespace quill::test
