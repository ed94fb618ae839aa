// Request.Cookies and Response.Cookies.
#include "host/asp/cookies.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

#include "platform/core/civil_date.h"

namespace quill::asp {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The value of the first pair named `name` (without regard to ASCII case),
// or null.
const std::string* ValueOf(const NameValueList& pairs, std::string_view name) {
  for (const auto& [k, v] : pairs) {
    if (SameNoCase(k, name)) return &v;
  }
  return nullptr;
}

// Key(i) of a collection of named things: the i-th name, from 1.
template <class Pairs>
void SetResultKey(VARIANT* result, const Pairs& pairs, const Arguments& args, const std::string& member) {
  const int32_t i = args.Int(0, member);
  if (i < 1 || static_cast<size_t>(i) > pairs.size()) {
    throw AutomationError(DISP_E_BADINDEX, member + ": subscript out of range");
  }
  SetResultText(result, pairs[static_cast<size_t>(i) - 1].first);
}

// _NewEnum of a collection of named things: an enumerator of the names.
template <class Pairs>
void SetResultNames(VARIANT* result, const Pairs& pairs) {
  std::vector<std::string> names;
  for (const auto& kv : pairs) names.push_back(kv.first);
  SetResultEnumerator(result, names);
}

// --- Request -------------------------------------------------------------------

class RequestCookie final : public AutomationObject {
 public:
  explicit RequestCookie(std::string raw) : raw_(std::move(raw)) {
    if (raw_.find('=') != std::string::npos) keys_ = ParseUrlEncoded(raw_, 200);
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"HasKeys", 1}, {u"Count", 2},
                                      {u"Key", 3}, {u"_NewEnum", DISPID_NEWENUM}};
    return kMembers;
  }
  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    RequireRead(flags, "");
    switch (id) {
      case DISPID_VALUE: {
        if (args.count() == 0 || args.Missing(0)) {
          SetResultText(result, UrlDecode(raw_));
          return;
        }
        const std::string* value = ValueOf(keys_, args.Text(0, "Request.Cookies(name)"));
        SetResultText(result, value != nullptr ? *value : std::string());
        return;
      }
      case 1: SetResultBool(result, !keys_.empty()); return;
      case 2: SetResultInt(result, static_cast<int32_t>(keys_.size())); return;
      case 3: SetResultKey(result, keys_, args, "Request.Cookies(name).Key"); return;
      case DISPID_NEWENUM: SetResultNames(result, keys_); return;
    }
  }

 private:
  std::string raw_;
  NameValueList keys_;
};

class RequestCookies final : public AutomationObject {
 public:
  explicit RequestCookies(const NameValueList& cookies) {
    for (const auto& [name, raw] : cookies) {
      // The first of a name wins: browsers send the most specific path first.
      if (Find(name) == nullptr) cookies_.emplace_back(name, raw);
    }
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Count", 1}, {u"Key", 2},
                                      {u"_NewEnum", DISPID_NEWENUM}};
    return kMembers;
  }
  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    RequireRead(flags, "");
    switch (id) {
      case DISPID_VALUE: {
        if (args.count() == 0 || args.Missing(0)) {
          SetResultDispatch(result, this);
          return;
        }
        std::string raw;
        const VARIANT& a = args.at(0);
        if (a.vt == VT_I4 || a.vt == VT_R8 || a.vt == VT_I2) {
          const int32_t i = args.Int(0, "Request.Cookies");
          if (i < 1 || static_cast<size_t>(i) > cookies_.size()) {
            throw AutomationError(DISP_E_BADINDEX, "Request.Cookies: subscript out of range");
          }
          raw = cookies_[static_cast<size_t>(i) - 1].second;
        } else if (const std::string* found = Find(args.Text(0, "Request.Cookies"))) {
          raw = *found;
        }
        SetResultObject(result, olert::ComPtr<IDispatch>::Adopt(new RequestCookie(raw)));
        return;
      }
      case 1: SetResultInt(result, static_cast<int32_t>(cookies_.size())); return;
      case 2: SetResultKey(result, cookies_, args, "Request.Cookies.Key"); return;
      case DISPID_NEWENUM: SetResultNames(result, cookies_); return;
    }
  }

 private:
  const std::string* Find(std::string_view name) const { return ValueOf(cookies_, name); }
  NameValueList cookies_;
};

// --- Response ------------------------------------------------------------------

// DATE (days since 1899-12-30, local time) to seconds since the epoch.
std::optional<long long> DateToSeconds(double date) {
  if (!std::isfinite(date) || date < -657434.0 || date > 2958465.0) return std::nullopt;
  const double days = std::floor(date);
  double frac = std::fabs(date - days);
  int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  core::CivilFromDays(static_cast<int64_t>(days) + core::kDateOriginDays, &y, &m, &d);
  const long long secs_in_day = std::llround(frac * 86400.0);
  std::tm local{};
  local.tm_year = static_cast<int>(y - 1900);
  local.tm_mon = static_cast<int>(m) - 1;
  local.tm_mday = static_cast<int>(d);
  local.tm_hour = static_cast<int>(secs_in_day / 3600);
  local.tm_min = static_cast<int>(secs_in_day / 60 % 60);
  local.tm_sec = static_cast<int>(secs_in_day % 60);
  local.tm_isdst = -1;
  const time_t t = mktime(&local);
  return static_cast<long long>(t);
}

class ResponseCookie final : public AutomationObject {
 public:
  ResponseCookie(std::string name) : name_(std::move(name)) {}

  std::string Header() const {
    std::string h = UrlEncode(name_) + "=";
    if (!keys_.empty()) {
      h += BuildUrlEncoded(keys_);
    } else {
      h += UrlEncode(value_);
    }
    if (expires_) h += "; Expires=" + HttpDate(*expires_);
    if (!domain_.empty()) h += "; Domain=" + domain_;
    h += "; Path=" + (path_.empty() ? std::string("/") : path_);
    if (secure_) h += "; Secure";
    if (http_only_) h += "; HttpOnly";
    if (!same_site_.empty()) h += "; SameSite=" + same_site_;
    return h;
  }

  void SetValue(const std::string& value) {
    keys_.clear();
    value_ = value;
    Check();
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Expires", 1}, {u"Domain", 2},
                                      {u"Path", 3},            {u"Secure", 4},  {u"HttpOnly", 5},
                                      {u"SameSite", 6},        {u"HasKeys", 7}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    const bool put = IsPut(flags);
    const VARIANT* value = args.put_value();
    if (put && value == nullptr) throw AutomationError(DISP_E_PARAMNOTOPTIONAL, "Response.Cookies: no value");
    auto text = [&](std::string_view member) {
      std::string t;
      if (!VariantToUtf8(*value, &t)) {
        throw AutomationError(DISP_E_TYPEMISMATCH, "Response.Cookies(\"" + name_ + "\")." + std::string(member) +
                                                       ": the value is not a text");
      }
      return t;
    };
    auto attribute = [&](std::string_view member, std::string* field) {
      std::string t = text(member);
      if (HasControl(t) || t.find(';') != std::string::npos || t.find(',') != std::string::npos) {
        throw AutomationError(E_INVALIDARG, "Response.Cookies(\"" + name_ + "\")." + std::string(member) +
                                                ": \"" + t + "\" has characters a cookie attribute cannot hold");
      }
      const std::string old = *field;
      *field = t;
      try {
        Check();
      } catch (...) {
        *field = old;
        throw;
      }
    };
    switch (id) {
      case DISPID_VALUE:
        if (put) {
          const std::string v = text("Item");
          if (args.count() > 0 && !args.Missing(0)) {
            const std::string key = args.Text(0, "Response.Cookies(name)");
            if (key.empty()) throw AutomationError(E_INVALIDARG, "Response.Cookies(name)(key): the key is empty");
            const NameValueList old = keys_;
            auto found = std::find_if(keys_.begin(), keys_.end(), [&](const auto& kv) { return SameNoCase(kv.first, key); });
            if (found != keys_.end()) {
              found->second = v;
            } else {
              keys_.emplace_back(key, v);
            }
            value_.clear();
            try {
              Check();
            } catch (...) {
              keys_ = old;
              throw;
            }
          } else {
            const std::string old = value_;
            const NameValueList old_keys = keys_;
            try {
              SetValue(v);
            } catch (...) {
              value_ = old;
              keys_ = old_keys;
              throw;
            }
          }
          return;
        }
        if (args.count() > 0 && !args.Missing(0)) {
          const std::string* value = ValueOf(keys_, args.Text(0, "Response.Cookies(name)"));
          SetResultText(result, value != nullptr ? *value : std::string());
          return;
        }
        SetResultText(result, keys_.empty() ? value_ : BuildUrlEncoded(keys_));
        return;
      case 1:
        if (put) {
          VARIANT d;
          VariantInit(&d);
          if (FAILED(VariantChangeType(&d, value, 0, VT_DATE))) {
            throw AutomationError(DISP_E_TYPEMISMATCH, "Response.Cookies(\"" + name_ + "\").Expires: not a date");
          }
          const std::optional<long long> secs = DateToSeconds(d.date);
          if (!secs) throw AutomationError(E_INVALIDARG, "Response.Cookies(\"" + name_ + "\").Expires: the date is out of range");
          expires_ = secs;
          return;
        }
        throw AutomationError(DISP_E_MEMBERNOTFOUND, "Response.Cookies(name).Expires can only be set");
      case 2:
        if (put) return attribute("Domain", &domain_);
        SetResultText(result, domain_);
        return;
      case 3:
        if (put) return attribute("Path", &path_);
        SetResultText(result, path_.empty() ? "/" : path_);
        return;
      case 4: case 5:
        if (put) {
          VARIANT b;
          VariantInit(&b);
          if (FAILED(VariantChangeType(&b, value, 0, VT_BOOL))) {
            throw AutomationError(DISP_E_TYPEMISMATCH, "Response.Cookies(name): Secure and HttpOnly are true or false");
          }
          (id == 4 ? secure_ : http_only_) = b.boolVal != VARIANT_FALSE;
          return;
        }
        SetResultBool(result, id == 4 ? secure_ : http_only_);
        return;
      case 6:
        if (put) {
          std::string t = text("SameSite");
          if (!t.empty() && !SameNoCase(t, "Strict") && !SameNoCase(t, "Lax") && !SameNoCase(t, "None")) {
            throw AutomationError(E_INVALIDARG, "Response.Cookies(\"" + name_ + "\").SameSite: \"" + t +
                                                    "\" is none of Strict, Lax, None");
          }
          if (!t.empty()) {
            for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            t[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
          }
          same_site_ = t;
          return;
        }
        SetResultText(result, same_site_);
        return;
      case 7:
        RequireRead(flags, "");
        SetResultBool(result, !keys_.empty());
        return;
    }
  }

 private:
  void Check() const {
    const size_t size = Header().size();
    if (size > kMaxCookieBytes) {
      throw AutomationError(E_INVALIDARG, "Response.Cookies(\"" + name_ + "\"): the cookie would take " +
                                              std::to_string(size) + " bytes, more than the " +
                                              std::to_string(kMaxCookieBytes) + " a browser keeps");
    }
  }

  std::string name_;
  std::string value_;
  NameValueList keys_;
  std::optional<long long> expires_;
  std::string domain_;
  std::string path_;
  bool secure_ = false;
  bool http_only_ = false;
  std::string same_site_;
};

}  // namespace

class ResponseCookies final : public AutomationObject {
 public:
  ResponseCookie* Cookie(const std::string& name) {
    for (auto& [n, cookie] : cookies_) {
      if (SameNoCase(n, name)) return cookie.get();
    }
    if (name.empty() || HasControl(name)) {
      throw AutomationError(E_INVALIDARG, "Response.Cookies: \"" + name + "\" is not a cookie name");
    }
    if (cookies_.size() >= 50) throw AutomationError(E_INVALIDARG, "Response.Cookies: a page can set at most 50 cookies");
    cookies_.emplace_back(name, olert::ComPtr<ResponseCookie>::Adopt(new ResponseCookie(name)));
    return cookies_.back().second.get();
  }

  void Put(const Arguments& args) {
    if (args.count() != 1) throw AutomationError(DISP_E_BADPARAMCOUNT, "Response.Cookies(name) = value takes one name");
    std::string text;
    if (args.put_value() == nullptr || !VariantToUtf8(*args.put_value(), &text)) {
      throw AutomationError(DISP_E_TYPEMISMATCH, "Response.Cookies(name) = value: the value is not a text");
    }
    Cookie(args.Text(0, "Response.Cookies"))->SetValue(text);
  }

  std::vector<std::string> Headers() const {
    std::vector<std::string> out;
    for (const auto& [name, cookie] : cookies_) out.push_back(cookie->Header());
    return out;
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Count", 1}, {u"Key", 2},
                                      {u"_NewEnum", DISPID_NEWENUM}};
    return kMembers;
  }
  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    if (id == DISPID_VALUE && IsPut(flags)) {
      Put(args);
      return;
    }
    RequireRead(flags, "");
    switch (id) {
      case DISPID_VALUE:
        if (args.count() == 0 || args.Missing(0)) {
          SetResultDispatch(result, this);
          return;
        }
        SetResultDispatch(result, Cookie(args.Text(0, "Response.Cookies")));
        return;
      case 1: SetResultInt(result, static_cast<int32_t>(cookies_.size())); return;
      case 2: SetResultKey(result, cookies_, args, "Response.Cookies.Key"); return;
      case DISPID_NEWENUM: SetResultNames(result, cookies_); return;
    }
  }

 private:
  std::vector<std::pair<std::string, olert::ComPtr<ResponseCookie>>> cookies_;
};

NameValueList ParseCookies(const NameValueList& headers) {
  NameValueList out;
  for (const auto& [header, value] : headers) {
    if (!SameNoCase(header, "Cookie")) continue;
    std::string_view rest = value;
    while (!rest.empty() && out.size() < 200) {
      const size_t semi = rest.find(';');
      const std::string_view part = Trim(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      const size_t eq = part.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view name = Trim(part.substr(0, eq));
      std::string_view raw = Trim(part.substr(eq + 1));
      if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
      if (name.empty() || HasControl(name) || HasControl(raw)) continue;
      out.emplace_back(UrlDecode(name), std::string(raw));
    }
  }
  return out;
}

olert::ComPtr<IDispatch> NewRequestCookies(const NameValueList& cookies) {
  return olert::ComPtr<IDispatch>::Adopt(new RequestCookies(cookies));
}

ResponseCookies* NewResponseCookies() { return new ResponseCookies(); }

IDispatch* AsDispatch(ResponseCookies* cookies) { return cookies; }

IDispatch* ResponseCookieNamed(ResponseCookies* cookies, const std::string& name) { return cookies->Cookie(name); }

void PutResponseCookie(ResponseCookies* cookies, const Arguments& args) { cookies->Put(args); }

std::vector<std::string> SetCookieHeaders(const ResponseCookies* cookies) { return cookies->Headers(); }

std::string HttpDate(long long seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm gmt{};
  gmtime_r(&t, &gmt);
  char buf[64];
  std::strftime(buf, sizeof(buf), "%a, %d %b %Y %H:%M:%S GMT", &gmt);
  return buf;
}

}  // namespace quill::asp
