// The HTTP front end of the page host, on cpp-httplib.
#include "host/asp/http_host.h"

#include <httplib.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

#include "host/asp/access_log.h"
#include "host/asp/form_data.h"
#include "host/asp/mysql_session_store.h"
#include "host/asp/page_cache.h"
#include "host/asp/response_stream.h"
#include "host/asp/script_engine.h"
#include "platform/olert/olert.h"

namespace quill::asp {

namespace {

// The connection threads, for the HTTP library. Each initialises the
// automation runtime once, for all the requests it will handle.
class ComThreadPool : public httplib::TaskQueue {
 public:
  explicit ComThreadPool(int count) : workers_(std::make_unique<PageWorkers>(count)) {}
  ~ComThreadPool() override { shutdown(); }

  void enqueue(std::function<void()> task) override {
    if (workers_ != nullptr) workers_->Submit(std::move(task));
  }
  // Runs what is queued, then joins the threads.
  void shutdown() override { workers_.reset(); }

 private:
  std::unique_ptr<PageWorkers> workers_;
};

std::string Extension(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string StaticType(const std::string& ext) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".css", "text/css"},                  {".js", "text/javascript"},
      {".json", "application/json"},         {".txt", "text/plain; charset=utf-8"},
      {".xml", "application/xml"},           {".svg", "image/svg+xml"},
      {".png", "image/png"},                 {".gif", "image/gif"},
      {".jpg", "image/jpeg"},                {".jpeg", "image/jpeg"},
      {".ico", "image/x-icon"},              {".pdf", "application/pdf"}};
  for (const auto& [e, type] : kTypes) {
    if (ext == e) return type;
  }
  return "application/octet-stream";
}

bool Hidden(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const std::string ext = Extension(file);
  return name.empty() || name[0] == '.' || ext == ".inc" || ext == ".asa";
}

// The answer's body and type. The library's set_content copies the body;
// a page's body is moved instead.
void SetContent(httplib::Response& res, std::string&& body, const std::string& type) {
  res.body = std::move(body);
  res.headers.erase("Content-Type");
  res.set_header("Content-Type", type);
}

void SendError(httplib::Response& res, int status, const std::string& title, const std::string& message) {
  res.status = status;
  res.set_content(ErrorPage(status, title, message, ""), "text/html; charset=utf-8");
}

// Set by Handle when it saw to the access log for the request; the server's
// logger (on the same connection thread) logs the rest: requests refused
// before any handler ran (400, 413).
thread_local bool t_access_logged = false;

AccessEntry EntryOf(const httplib::Request& req) {
  AccessEntry access;
  access.when = std::chrono::system_clock::now();
  access.remote_addr = req.remote_addr.empty() ? "unix" : req.remote_addr;
  access.method = req.method;
  access.target = req.target;
  access.version = req.version;
  access.referer = req.get_header_value("Referer");
  access.user_agent = req.get_header_value("User-Agent");
  return access;
}

// The server, able to listen on a socket made elsewhere (a Unix socket).
class SocketServer : public httplib::Server {
 public:
  void Adopt(int socket) { svr_sock_ = socket; }
};

// A Unix stream socket listening at `path` (an old socket file there is
// replaced). Raises std::runtime_error.
int ListenUnix(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) {
    throw std::runtime_error("the socket path \"" + path + "\" is empty or too long");
  }
  std::error_code ec;
  if (std::filesystem::is_socket(path, ec)) std::filesystem::remove(path, ec);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("cannot create a Unix socket");
  address.sun_family = AF_UNIX;
  std::copy(path.begin(), path.end(), address.sun_path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 128) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on " + path);
  }
  return fd;
}

// The address and scheme of the client: the peer's own, or what a trusted
// proxy says in the last (its own) entry of X-Forwarded-For.
void ApplyForwarding(const httplib::Request& req, const std::vector<std::string>& trusted, PageRequest& page) {
  const std::string peer = req.remote_addr.empty() ? "unix" : req.remote_addr;
  if (std::find(trusted.begin(), trusted.end(), peer) == trusted.end()) return;
  std::string forwarded = req.get_header_value("X-Forwarded-For");
  if (const size_t comma = forwarded.rfind(','); comma != std::string::npos) forwarded = forwarded.substr(comma + 1);
  const size_t first = forwarded.find_first_not_of(" \t");
  const size_t last = forwarded.find_last_not_of(" \t");
  if (first != std::string::npos) {
    page.remote_addr = forwarded.substr(first, last - first + 1);
    page.remote_port = 0;
  }
  if (req.has_header("X-Forwarded-Proto")) page.https = req.get_header_value("X-Forwarded-Proto") == "https";
  // The port the client asked for is in Host, or the scheme's own.
  const std::string host = req.get_header_value("Host");
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    page.server_port = std::atoi(host.c_str() + colon + 1);
  } else {
    page.server_port = page.https ? 443 : 80;
  }
}

}  // namespace

PageServer::PageServer(const ServeOptions& options)
    : options_(options),
      site_(options.root),
      resolved_(site_),
      app_(std::make_unique<WebApplication>(
          site_, options.application,
          options.session_store.empty() ? nullptr : NewMySQLSessionStore(options.session_store))),
      server_(std::make_unique<SocketServer>()),
      cache_(std::make_unique<PageCache>()) {
  options_.page.debug = options_.debug;
  options_.page.cache = cache_.get();
  for (const auto& [status, page] : options_.page.error_pages) {
    std::error_code ec;
    const std::optional<std::filesystem::path> file = site_.Resolve(page);
    if (!file || !std::filesystem::is_regular_file(*file, ec)) {
      throw std::runtime_error("the error page for " + std::to_string(status) + ", " + page +
                               ", is not a file in the site");
    }
  }
  if (!options_.access_log.empty()) access_log_ = std::make_unique<AccessLog>(options_.access_log);
  const int threads = std::clamp(options_.threads, 1, 256);
  workers_ = std::make_unique<PageWorkers>(threads);
  page_slots_ = std::make_unique<PageSlots>(threads);
  // Connection threads only read and write; one waiting for a client's
  // next request on a kept-alive connection holds no page slot.
  const int connections = std::min(4 * threads + 16, 512);
  server_->new_task_queue = [connections] { return new ComThreadPool(connections); };
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_timeout(2);
  // A client may send this many requests on one connection (the library's
  // own default is 5, which makes a busy client connect anew all the time).
  server_->set_keep_alive_max_count(1000);
  server_->set_payload_max_length(options_.max_body_bytes);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { Handle(&req, &res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  const size_t cap = options_.max_body_bytes;
  server_->set_error_handler([cap](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    if (res.status == 413) {
      SendError(res, 413, "Payload Too Large",
                "The request body is larger than the " + std::to_string(cap) + " bytes this server accepts.");
    } else if (res.status == 404) {
      SendError(res, 404, "Not Found", "There is no such page.");
    } else if (res.status == 400) {
      SendError(res, 400, "Bad Request", "The request is malformed.");
    } else if (res.status >= 400) {
      SendError(res, res.status, "Error", "The request cannot be served.");
    }
  });
  server_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    if (std::exchange(t_access_logged, false) || !access_log_) return;
    AccessEntry access = EntryOf(req);
    access.status = res.status;
    access.bytes = res.body.size();
    access_log_->Write(access);
  });
  server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendError(res, 500, "Internal Server Error", "The host failed to answer this request.");
  });
}

PageServer::~PageServer() {
  Stop();
  workers_.reset();
  ScriptEngine::DropIdleHeaps();
  if (!options_.socket_path.empty()) {
    std::error_code ec;
    if (std::filesystem::is_socket(options_.socket_path, ec)) std::filesystem::remove(options_.socket_path, ec);
  }
}

int PageServer::Bind() {
  if (!options_.socket_path.empty()) {
    static_cast<SocketServer&>(*server_).Adopt(ListenUnix(options_.socket_path));
    return 0;
  }
  int port = options_.port;
  if (port == 0) {
    port = server_->bind_to_any_port(options_.bind);
    if (port < 0) throw std::runtime_error("cannot bind " + options_.bind);
  } else if (!server_->bind_to_port(options_.bind, port)) {
    throw std::runtime_error("cannot bind " + options_.bind + ":" + std::to_string(port));
  }
  return port;
}

void PageServer::Serve() {
  server_->listen_after_bind();
  app_->Shutdown();
}

void PageServer::Stop() { server_->stop(); }

bool PageServer::running() const { return server_->is_running(); }

void PageServer::ReopenLog() {
  if (access_log_) access_log_->Reopen();
}

void PageServer::Handle(const void* request_ptr, void* response_ptr) {
  const auto& req = *static_cast<const httplib::Request*>(request_ptr);
  auto& res = *static_cast<httplib::Response*>(response_ptr);
  std::string error;
  bool streamed = false;
  AccessEntry access = EntryOf(req);
  // Runs the page (or, with a status, the site's page for that status) and
  // answers once the page ended or sent its head. A kept page that never
  // needs its connection while it runs runs right here: handing it to a
  // page thread and waiting for it would cost more than many a page.
  // Others run on a page thread, so that this thread can send what the
  // page flushes while it runs.
  auto run_page = [this, &res, &error, &streamed, &access](std::shared_ptr<PageRequest> page, int status) {
    // A request of a session that another request of it is running waits in
    // here for its turn, holding its page slot; the other ends within its
    // script timeout or once its client is gone.
    auto render = [this, page, status](ResponseChannel* channel) {
      RenderResult result;
      try {
        result = status == 0 ? RenderPage(site_, *page, options_.page, app_.get(), channel)
                             : RenderStatusPage(site_, *page, options_.page, status, "Not Found",
                                                "There is no such page.", channel, app_.get());
      } catch (const std::exception& e) {
        result.response.status = 500;
        result.error = e.what();
        result.cut_off = true;
      }
      return result;
    };
    if (status == 0) {
      const std::shared_ptr<const CompiledPage> kept = cache_->Peek(site_, page->url_path);
      if (kept != nullptr && !kept->may_stream) {
        RenderResult result;
        {
          PageSlot slot(*page_slots_);
          result = render(nullptr);
        }
        error = std::move(result.error);
        res.status = result.response.status;
        for (const auto& [name, value] : result.response.headers) res.set_header(name, value);
        SetContent(res, std::move(result.response.body), result.response.FullContentType());
        return;
      }
    }
    auto channel = std::make_shared<ResponseChannel>();
    workers_->Submit([this, render, channel]() mutable {
      PageSlot slot(*page_slots_);
      RenderResult result = render(channel.get());
      channel->Finish(!result.cut_off, std::move(result.response), std::move(result.error));
    });
    channel->WaitForHead();
    PageResponse& head = channel->head();
    res.status = head.status;
    for (const auto& [name, value] : head.headers) res.set_header(name, value);
    if (!channel->committed()) {
      error = channel->error();
      SetContent(res, std::move(head.body), head.FullContentType());
      return;
    }
    // Streamed: a proxy in front is asked not to hold the chunks back.
    streamed = true;
    access.status = head.status;
    res.set_header("X-Accel-Buffering", "no");
    AccessLog* log = access_log_.get();
    const bool stderr_log = options_.log;
    res.set_chunked_content_provider(
        head.FullContentType(),
        [channel](size_t, httplib::DataSink& sink) {
          std::string chunk;
          if (channel->Next(&chunk)) {
            if (sink.write(chunk.data(), chunk.size())) return true;
            channel->Disconnect();
            return false;
          }
          if (!channel->ok()) return false;  // cut off: the client sees no proper end
          sink.done();
          return true;
        },
        [channel, log, stderr_log, access](bool) mutable {
          channel->Disconnect();
          const std::string failure = channel->error();
          if (stderr_log && !failure.empty()) {
            std::fprintf(stderr, "quill-asp: %s %s: %s\n", access.method.c_str(), access.target.c_str(),
                         failure.c_str());
          }
          if (log != nullptr) {
            access.bytes = channel->bytes_sent();
            log->Write(access);
          }
        });
  };
  const std::string& path = req.path;
  std::filesystem::file_status kind;
  std::optional<std::filesystem::path> file = resolved_.Resolve(path.empty() ? "/" : path, &kind);
  std::error_code ec;
  if (file && std::filesystem::is_directory(kind)) {
    std::optional<std::filesystem::path> index;
    for (const char* name : {"default.asp", "index.asp", "index.html", "index.htm"}) {
      const std::filesystem::path candidate = *file / name;
      if (std::filesystem::is_regular_file(candidate, ec)) {
        index = candidate;
        break;
      }
    }
    file = index;
    if (file) {
      // The index must lie in the root as well (it may be a link).
      const std::optional<std::filesystem::path> resolved = site_.Resolve(site_.VirtualPath(*file));
      file = resolved;
    }
    kind = file ? std::filesystem::status(*file, ec) : std::filesystem::file_status{};
  }
  if (!file || !std::filesystem::is_regular_file(kind) || Hidden(*file)) {
    if (options_.page.error_pages.count(404) != 0) {
      auto page = std::make_shared<PageRequest>();
      page->method = req.method;
      page->url_path = path;
      page->query_string = req.target.find('?') == std::string::npos ? "" : req.target.substr(req.target.find('?') + 1);
      page->query = ParseUrlEncoded(page->query_string);
      page->remote_addr = req.remote_addr;
      page->remote_port = req.remote_port;
      // The cookies too: the error page may use the client's session.
      for (const auto& [name, value] : req.headers) {
        if (strcasecmp(name.c_str(), "Cookie") == 0) page->headers.emplace_back(name, value);
      }
      ApplyForwarding(req, options_.trusted_proxies, *page);
      access.remote_addr = page->remote_addr;
      run_page(page, 404);
    } else {
      SendError(res, 404, "Not Found", "There is no such page.");
    }
  } else if (Extension(*file) == ".asp") {
    auto shared_page = std::make_shared<PageRequest>();
    PageRequest& page = *shared_page;
    page.method = req.method;
    page.url_path = site_.VirtualPath(*file);
    page.file = *file;
    const size_t q = req.target.find('?');
    if (q != std::string::npos) page.query_string = req.target.substr(q + 1);
    page.query = ParseUrlEncoded(page.query_string);
    page.content_type = req.get_header_value("Content-Type");
    page.body = req.body;
    for (const auto& [name, value] : req.headers) {
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") {
        continue;  // added by the library, not sent by the client
      }
      page.headers.emplace_back(name, value);
    }
    if (req.method == "POST") {
      if (page.content_type.rfind("application/x-www-form-urlencoded", 0) == 0) {
        page.form = ParseUrlEncoded(req.body);
      } else if (req.is_multipart_form_data()) {
        for (const auto& [name, part] : req.files) {
          if (part.filename.empty()) page.form.emplace_back(name, part.content);
        }
      }
    }
    page.remote_addr = req.remote_addr;
    page.remote_port = req.remote_port;
    page.server_name = req.has_header("Host") ? req.get_header_value("Host") : options_.bind;
    if (const size_t colon = page.server_name.rfind(':'); colon != std::string::npos &&
                                                          page.server_name.find(']') == std::string::npos) {
      page.server_name.resize(colon);
    }
    page.server_port = req.local_port;
    page.protocol = req.version;
    ApplyForwarding(req, options_.trusted_proxies, page);
    access.remote_addr = page.remote_addr;
    run_page(shared_page, 0);
  } else if (req.method != "GET" && req.method != "HEAD") {
    SendError(res, 405, "Method Not Allowed", "Only pages accept posted data.");
  } else {
    const auto size = std::filesystem::file_size(*file, ec);
    auto in = std::make_shared<std::ifstream>(*file, std::ios::binary);
    if (ec || !*in) {
      SendError(res, 500, "Internal Server Error", "The file cannot be read.");
    } else {
      res.status = 200;
      res.set_content_provider(static_cast<size_t>(size), StaticType(Extension(*file)),
                               [in](size_t offset, size_t length, httplib::DataSink& sink) {
                                 char buffer[65536];
                                 in->seekg(static_cast<std::streamoff>(offset));
                                 const size_t want = std::min(length, sizeof(buffer));
                                 in->read(buffer, static_cast<std::streamsize>(want));
                                 const std::streamsize got = in->gcount();
                                 if (got <= 0) return false;
                                 return sink.write(buffer, static_cast<size_t>(got));
                               });
    }
  }
  if (options_.log && (!options_.quiet || !error.empty() || res.status >= 500)) {
    // What the client sent is printed with its control characters masked.
    auto printable = [](std::string text) {
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      }
      return text;
    };
    std::fprintf(stderr, "%s %s %d%s%s\n", printable(req.method).c_str(), printable(req.path).c_str(),
                 res.status, error.empty() ? "" : " ", printable(error).c_str());
  }
  if (access_log_ && !streamed) {
    access.status = res.status;
    access.bytes = res.content_provider_ ? res.content_length_ : res.body.size();
    access_log_->Write(access);
  }
  t_access_logged = true;
}

}  // namespace quill::asp
