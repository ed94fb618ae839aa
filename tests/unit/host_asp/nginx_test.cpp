// quill-asp behind a private nginx, set up from the site in examples/deploy:
// a page, a static file nginx sends itself, a refused include, the client's
// address as nginx forwards it, and a streamed answer that nginx passes on
// as it comes. nginx runs on a free high port with its own configuration,
// pid file and prefix. Without nginx the test is skipped (exit status 77).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/asp_test_component.h"
#include "support/page_host.h"

namespace quill::asp {
namespace {

using namespace std::chrono_literals;
using test::TempSite;

constexpr const char* kNginx = "/usr/sbin/nginx";

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return 0;
  }
  close(fd);
  return ntohs(address.sin_port);
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST(BehindNginx, PagesStaticFilesRefusalsForwardingAndStreaming) {
  TempSite site("Nginx");
  site.Write("default.asp", "index");
  site.Write("who.asp",
             "<%= Request.ServerVariables('REMOTE_ADDR') %>|<%= Request.ServerVariables('HTTPS') %>|"
             "<%= Request.QueryString('q') %>");
  site.Write("stream.asp",
             "<% Response.Write('first'); Response.Flush();"
             " var t0 = new Date().getTime(); while (new Date().getTime() - t0 < 1500) {} %>last");
  site.Write("style.css", "body { color: black }");
  site.Write("lib.inc", "<% var secret = 'password' %>");
  const std::filesystem::path prefix = site.base() / "nginx";
  std::filesystem::create_directories(prefix);
  const std::string socket_path = (site.base() / "quill.sock").string();

  quill::test::HostProcess host(QUILL_ASP_PROGRAM,
                                {"--root", site.root().string(), "--socket", socket_path, "--trust-proxy", "unix"},
                                (site.base() / "serve.log").string());
  ASSERT_EQ(host.WaitServing(), 0);

  const int port = FreePort();
  ASSERT_GT(port, 0);
  std::string server = quill::test::ReadWholeFile(DEPLOY_DIR "/quill-site.nginx");
  ASSERT_FALSE(server.empty());
  Replace(server, "listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
  Replace(server, "root /srv/quill/site;", "root " + site.root().string() + ";");
  Replace(server, "unix:/run/quill-asp/quill-asp.sock", "unix:" + socket_path);
  std::string user;
  if (geteuid() == 0) user = "user root;\n";  // workers must reach the site and the socket
  const std::string p = prefix.string();
  std::ofstream(prefix / "nginx.conf") << user << "worker_processes 1;\npid " << p << "/nginx.pid;\nerror_log " << p
                                       << "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
                                       << "  include /etc/nginx/mime.types;\n  access_log " << p << "/access.log;\n"
                                       << "  client_body_temp_path " << p << "/body;\n  proxy_temp_path " << p
                                       << "/proxy;\n  fastcgi_temp_path " << p << "/fastcgi;\n  uwsgi_temp_path " << p
                                       << "/uwsgi;\n  scgi_temp_path " << p << "/scgi;\n"
                                       << server << "}\n";
  quill::test::ChildProcess nginx({kNginx, "-p", p + "/", "-c", p + "/nginx.conf", "-e", p + "/error.log", "-g",
                                   "daemon off;"},
                                  p + "/stderr.log");
  auto client = quill::test::LocalClient(port);
  bool up = false;
  for (int i = 0; i < 250 && !up && !nginx.Exited(); ++i) {
    up = static_cast<bool>(client.Get("/style.css"));
    if (!up) std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(up) << nginx.log() << quill::test::ReadWholeFile(p + "/error.log");

  auto r = client.Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "index");
  // The client's own address, not what it claims to be forwarded for.
  r = client.Get("/who.asp?q=1", {{"X-Forwarded-For", "203.0.113.9"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "127.0.0.1|off|1");
  r = client.Get("/style.css");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "body { color: black }");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/css");
  r = client.Get("/lib.inc");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
  EXPECT_EQ(r->body.find("password"), std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  std::chrono::milliseconds first_at{-1};
  std::string body;
  r = client.Get("/stream.asp", [&](const char* data, size_t n) {
    if (body.empty()) {
      first_at = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }
    body.append(data, n);
    return true;
  });
  ASSERT_TRUE(r);
  EXPECT_EQ(body, "firstlast");
  EXPECT_LT(first_at.count(), 1000);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);

  // Static files never reached quill-asp.
  const std::string served = host.log();
  EXPECT_NE(served.find("GET /who.asp 200"), std::string::npos) << served;
  EXPECT_EQ(served.find("style.css"), std::string::npos) << served;
  nginx.Signal(SIGQUIT);
  EXPECT_EQ(nginx.WaitExit(10), 0);
  host.Signal(SIGTERM);
  EXPECT_EQ(host.WaitExit(10), 0);
}

}  // namespace
}  // namespace quill::asp

int main(int argc, char** argv) {
  if (access(quill::asp::kNginx, X_OK) != 0) {
    std::fprintf(stderr, "%s is not installed (Debian package nginx-light): skipped\n", quill::asp::kNginx);
    return 77;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
