// Running the page host for HTTP tests: in the test process (ServedSite) or
// as a `quill-asp serve` child process (HostProcess), and a client for it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

namespace quill::test {

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
