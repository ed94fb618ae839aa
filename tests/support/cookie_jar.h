// A browser's cookie jar, reduced to what page-host tests need: it keeps the
// name=value of every Set-Cookie an answer carries (a past Expires drops
// the cookie) and sends them back in a Cookie header.
#pragma once

#include <httplib.h>

#include <map>
#include <string>

namespace quill::test {

class CookieJar {
 public:
  // Remembers the cookies `response` sets.
  void Take(const httplib::Response& response) {
    const size_t count = response.get_header_value_count("Set-Cookie");
    for (size_t i = 0; i < count; ++i) {
      const std::string header = response.get_header_value("Set-Cookie", i);
      const size_t eq = header.find('=');
      const size_t semi = header.find(';');
      if (eq == std::string::npos) continue;
      const std::string name = header.substr(0, eq);
      const std::string value = header.substr(eq + 1, semi == std::string::npos ? std::string::npos : semi - eq - 1);
      if (header.find("Expires=Thu, 01 Jan 1970") != std::string::npos) {
        cookies_.erase(name);
      } else {
        cookies_[name] = value;
      }
    }
  }
  // The Cookie header to send ("" when empty).
  std::string Header() const {
    std::string out;
    for (const auto& [name, value] : cookies_) out += (out.empty() ? "" : "; ") + name + "=" + value;
    return out;
  }
  std::string Get(const std::string& name) const {
    auto found = cookies_.find(name);
    return found == cookies_.end() ? std::string() : found->second;
  }
  void Set(const std::string& name, const std::string& value) { cookies_[name] = value; }
  void Clear() { cookies_.clear(); }

  // GET `path` with the jar's cookies (and `extra` headers); takes what the answer sets.
  httplib::Result Get(httplib::Client& client, const std::string& path, httplib::Headers extra = {}) {
    if (!cookies_.empty()) extra.emplace("Cookie", Header());
    httplib::Result r = client.Get(path, extra);
    if (r) Take(*r);
    return r;
  }

 private:
  std::map<std::string, std::string> cookies_;
};

}  // namespace quill::test
