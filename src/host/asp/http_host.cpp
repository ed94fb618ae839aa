// The HTTP front end of the page host, on cpp-httplib.
#include "host/asp/http_host.h"

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "host/asp/form_data.h"
#include "host/asp/mysql_session_store.h"
#include "platform/olert/olert.h"

namespace quill::asp {

namespace {

// The request threads. Each initialises the automation runtime once, for
// all the requests it will handle.
class ComThreadPool : public httplib::TaskQueue {
 public:
  explicit ComThreadPool(int count) {
    for (int i = 0; i < std::max(count, 1); ++i) {
      threads_.emplace_back([this] { Work(); });
    }
  }
  ~ComThreadPool() override { shutdown(); }

  void enqueue(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (done_) return;
      done_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  void Work() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    while (true) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return done_ || !tasks_.empty(); });
        if (tasks_.empty()) break;  // done, and nothing left to do
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      try {
        task();
      } catch (...) {
        // A connection that fails must not take the thread with it.
      }
    }
    if (SUCCEEDED(hr)) CoUninitialize();
  }

  std::vector<std::thread> threads_;
  std::deque<std::function<void()>> tasks_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool done_ = false;
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

void SendError(httplib::Response& res, int status, const std::string& title, const std::string& message) {
  res.status = status;
  res.set_content(ErrorPage(status, title, message, ""), "text/html; charset=utf-8");
}

}  // namespace

PageServer::PageServer(const ServeOptions& options)
    : options_(options),
      site_(options.root),
      app_(std::make_unique<WebApplication>(
          site_, options.application,
          options.session_store.empty() ? nullptr : NewMySQLSessionStore(options.session_store))),
      server_(std::make_unique<httplib::Server>()) {
  const int threads = std::clamp(options_.threads, 1, 64);
  server_->new_task_queue = [threads] { return new ComThreadPool(threads); };
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
  server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendError(res, 500, "Internal Server Error", "The host failed to answer this request.");
  });
}

PageServer::~PageServer() { Stop(); }

int PageServer::Bind() {
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

void PageServer::Handle(const void* request_ptr, void* response_ptr) {
  const auto& req = *static_cast<const httplib::Request*>(request_ptr);
  auto& res = *static_cast<httplib::Response*>(response_ptr);
  std::string error;
  const std::string& path = req.path;
  std::optional<std::filesystem::path> file = site_.Resolve(path.empty() ? "/" : path);
  std::error_code ec;
  if (file && std::filesystem::is_directory(*file, ec)) {
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
  }
  if (!file || !std::filesystem::is_regular_file(*file, ec) || Hidden(*file)) {
    SendError(res, 404, "Not Found", "There is no such page.");
  } else if (Extension(*file) == ".asp") {
    PageRequest page;
    page.method = req.method;
    page.url_path = site_.VirtualPath(*file);
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
    if (std::find(options_.trusted_proxies.begin(), options_.trusted_proxies.end(), req.remote_addr) !=
        options_.trusted_proxies.end()) {
      std::string proto = req.get_header_value("X-Forwarded-Proto");
      for (char& c : proto) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      page.secure = proto == "https";
    }
    RenderResult result = RenderPage(site_, page, options_.page, app_.get());
    error = result.error;
    res.status = result.response.status;
    for (const auto& [name, value] : result.response.headers) res.set_header(name, value);
    res.set_content(std::move(result.response.body), result.response.FullContentType());
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
  if (options_.log) {
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
}

}  // namespace quill::asp
