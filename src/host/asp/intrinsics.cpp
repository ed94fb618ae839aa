// Request, Response, Server and the scripting context, as automation objects.
#include "host/asp/intrinsics.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "base/utf8.h"
#include "host/asp/form_data.h"
#include "host/asp/module_census.h"
#include "host/asp/request_extras.h"
#include "host/asp/text_writer.h"

namespace quill::asp {

namespace {

// A whole number argument, if argument i is a number (not a text).
std::optional<int32_t> NumberArgument(const Arguments& args, size_t i) {
  const VARIANT& v = args.at(i);
  switch (v.vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: {
      VARIANT n;
      VariantInit(&n);
      if (FAILED(VariantChangeType(&n, &v, 0, VT_I4))) {
        throw AutomationError(DISP_E_BADINDEX, "Subscript out of range");
      }
      return n.lVal;
    }
    default:
      return std::nullopt;
  }
}

// --- Values sent under one name ------------------------------------------------

class ValueList final : public AutomationObject {
 public:
  explicit ValueList(std::vector<std::string> values) : values_(std::move(values)) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Count", 1}, {u"_NewEnum", DISPID_NEWENUM}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    RequireRead(flags, "");
    switch (id) {
      case DISPID_VALUE: {
        if (args.count() == 0 || args.Missing(0)) {
          if (values_.empty()) {
            if (result != nullptr) VariantClear(result);  // Empty: nothing was sent
            return;
          }
          std::string joined;
          for (size_t i = 0; i < values_.size(); ++i) {
            if (i > 0) joined += ", ";
            joined += values_[i];
          }
          SetResultText(result, joined);
          return;
        }
        const int32_t index = args.Int(0, "Item");
        if (index < 1 || static_cast<size_t>(index) > values_.size()) {
          throw AutomationError(DISP_E_BADINDEX, "Subscript out of range: there are " +
                                                     std::to_string(values_.size()) + " value(s)");
        }
        SetResultText(result, values_[static_cast<size_t>(index) - 1]);
        return;
      }
      case 1:
        SetResultInt(result, static_cast<int32_t>(values_.size()));
        return;
      case DISPID_NEWENUM:
        SetResultEnumerator(result, values_);
        return;
    }
  }

 private:
  std::vector<std::string> values_;
};

// --- Form, QueryString, ServerVariables ------------------------------------------

class RequestCollection final : public AutomationObject {
 public:
  RequestCollection(std::string name, const NameValueList& pairs, std::string raw)
      : name_(std::move(name)), raw_(std::move(raw)) {
    for (const auto& pair : pairs) {
      const std::string& key = pair.first;
      auto found = std::find_if(entries_.begin(), entries_.end(),
                                [&key](const Entry& e) { return SameNoCase(e.key, key); });
      if (found == entries_.end()) {
        entries_.push_back(Entry{key, {pair.second}});
      } else {
        found->values.push_back(pair.second);
      }
    }
  }

  // The values under `key`, or null.
  const std::vector<std::string>* Find(std::string_view key) const {
    for (const Entry& e : entries_) {
      if (SameNoCase(e.key, key)) return &e.values;
    }
    return nullptr;
  }

  // Item(args): a ValueList, or the raw text without arguments.
  void Item(const Arguments& args, VARIANT* result) const {
    if (args.count() == 0 || args.Missing(0)) {
      SetResultText(result, raw_);
      return;
    }
    std::vector<std::string> values;
    if (std::optional<int32_t> index = NumberArgument(args, 0)) {
      values = At(*index, "Item").values;
    } else if (const std::vector<std::string>* found = Find(args.Text(0, name_ + ".Item"))) {
      values = *found;
    }
    SetResultObject(result, olert::ComPtr<IDispatch>::Adopt(new ValueList(std::move(values))));
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {
        {u"Item", DISPID_VALUE}, {u"Count", 1}, {u"Key", 2}, {u"_NewEnum", DISPID_NEWENUM}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    RequireRead(flags, "");
    switch (id) {
      case DISPID_VALUE:
        Item(args, result);
        return;
      case 1:
        SetResultInt(result, static_cast<int32_t>(entries_.size()));
        return;
      case 2:
        SetResultText(result, At(args.Int(0, name_ + ".Key"), "Key").key);
        return;
      case DISPID_NEWENUM: {
        std::vector<std::string> keys;
        for (const Entry& e : entries_) keys.push_back(e.key);
        SetResultEnumerator(result, keys);
        return;
      }
    }
  }

 private:
  struct Entry {
    std::string key;
    std::vector<std::string> values;
  };

  const Entry& At(int32_t index, const char* member) const {
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) {
      throw AutomationError(DISP_E_BADINDEX, name_ + "." + member + "(" + std::to_string(index) +
                                                 "): subscript out of range; there are " +
                                                 std::to_string(entries_.size()) + " item(s)");
    }
    return entries_[static_cast<size_t>(index) - 1];
  }

  std::string name_;
  std::string raw_;
  std::vector<Entry> entries_;
};

NameValueList ServerVariables(const PageEnvironment& env) {
  const PageRequest& r = *env.request;
  NameValueList vars = {
      {"REQUEST_METHOD", r.method},
      {"QUERY_STRING", r.query_string},
      {"SCRIPT_NAME", env.page_path},
      {"PATH_INFO", env.page_path},
      {"URL", env.page_path},
      {"SERVER_NAME", r.server_name},
      {"SERVER_PORT", std::to_string(r.server_port)},
      {"SERVER_PROTOCOL", r.protocol},
      {"SERVER_SOFTWARE", "quill-asp"},
      {"REMOTE_ADDR", r.remote_addr},
      {"REMOTE_HOST", r.remote_addr},
      {"REMOTE_PORT", std::to_string(r.remote_port)},
      {"CONTENT_TYPE", r.content_type},
      {"CONTENT_LENGTH", std::to_string(r.body.size())},
  };
  if (env.site != nullptr) {
    try {
      // The page's own file is what MapPath would answer for its path, found
      // without asking the file system again.
      const bool known = !env.page_file.empty() && env.page_path.find('\\') == std::string::npos;
      vars.emplace_back("PATH_TRANSLATED", (known ? env.page_file : env.site->MapPath("/", env.page_path)).string());
      vars.emplace_back("APPL_PHYSICAL_PATH", env.site->path().string());
    } catch (const std::exception&) {
    }
  }
  for (const auto& [name, value] : r.headers) {
    std::string var = "HTTP_";
    for (const char c : name) {
      var.push_back(c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    vars.emplace_back(var, value);
  }
  AddServerVariables(env, vars);
  return vars;
}

// --- Request -----------------------------------------------------------------------

NameValueList DecodedCookies(const NameValueList& headers) {
  NameValueList cookies = ParseCookies(headers);
  for (auto& kv : cookies) kv.second = UrlDecode(kv.second);
  return cookies;
}

class RequestObject final : public AutomationObject {
 public:
  // The query string is read by most pages; the other collections are made
  // when a page first asks for them.
  explicit RequestObject(const PageEnvironment& env)
      : env_(env),
        page_path_(env.page_path),
        page_file_(env.page_file),
        query_(Collection("Request.QueryString", env.request->query, env.request->query_string)),
        total_bytes_(env.request->body.size()),
        body_(env.request->body) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE},     {u"Form", 1},
                                      {u"QueryString", 2},         {u"ServerVariables", 3},
                                      {u"Cookies", 4},             {u"TotalBytes", 5},
                                      {u"BinaryRead", 6}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    RequireRead(flags, "");
    RequestCollection* collection = nullptr;
    switch (id) {
      case DISPID_VALUE: {
        if (args.count() == 0 || args.Missing(0)) {
          SetResultDispatch(result, this);
          return;
        }
        const std::string key = args.Text(0, "Request");
        std::vector<std::string> values;
        for (auto collection : {&RequestObject::Query, &RequestObject::Form, &RequestObject::Cookies,
                                &RequestObject::Vars}) {
          if (const std::vector<std::string>* found = (this->*collection)()->Find(key)) {
            values = *found;
            break;
          }
        }
        SetResultObject(result, olert::ComPtr<IDispatch>::Adopt(new ValueList(std::move(values))));
        return;
      }
      case 1: collection = Form(); break;
      case 2: collection = query_.get(); break;
      case 3: collection = Vars(); break;
      case 4: {
        // Request.Cookies("a") is the cookie, with its keys.
        if (args.count() == 0) {
          SetResultDispatch(result, CookieJar());
          return;
        }
        olert::ScopedVariant name;
        name.CopyFrom(args.at(0));
        DISPPARAMS params{name.get(), nullptr, 1, 0};
        EXCEPINFO excep{};
        const HRESULT hr = CookieJar()->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, result,
                                               &excep, nullptr);
        const std::string why = BstrToUtf8(excep.bstrDescription);
        olert::ClearExcepInfo(excep);
        if (FAILED(hr)) throw AutomationError(hr, why.empty() ? "Request.Cookies failed" : why);
        return;
      }
      case 5:
        SetResultInt(result, static_cast<int32_t>(std::min<size_t>(total_bytes_, 0x7FFFFFFF)));
        return;
      case 6:
        BinaryRead(body_, &read_offset_, args, result);
        return;
    }
    // Request.Form("x") is Request.Form.Item("x").
    if (args.count() > 0) {
      collection->Item(args, result);
    } else {
      SetResultDispatch(result, collection);
    }
  }

 private:
  static olert::ComPtr<RequestCollection> Collection(std::string name, const NameValueList& pairs,
                                                     std::string raw) {
    return olert::ComPtr<RequestCollection>::Adopt(new RequestCollection(std::move(name), pairs, std::move(raw)));
  }

  RequestCollection* Form() {
    if (!form_) {
      const PageRequest& r = *env_.request;
      form_ = Collection("Request.Form", r.form,
                         r.content_type.rfind("application/x-www-form-urlencoded", 0) == 0 ? r.body : std::string());
    }
    return form_.get();
  }
  RequestCollection* Query() { return query_.get(); }
  // The variables of the page the request asked for, also when a page it
  // runs (Server.Execute) asks first.
  RequestCollection* Vars() {
    if (!vars_) {
      PageEnvironment requested;
      requested.site = env_.site;
      requested.request = env_.request;
      requested.page_path = page_path_;
      requested.page_file = page_file_;
      vars_ = Collection("Request.ServerVariables", ServerVariables(requested), std::string());
    }
    return vars_.get();
  }
  RequestCollection* Cookies() {
    if (!cookies_) cookies_ = Collection("Request.Cookies", DecodedCookies(env_.request->headers), std::string());
    return cookies_.get();
  }
  IDispatch* CookieJar() {
    if (!cookie_jar_) cookie_jar_ = NewRequestCookies(ParseCookies(env_.request->headers));
    return cookie_jar_.get();
  }

  const PageEnvironment& env_;
  const std::string page_path_;
  const std::filesystem::path page_file_;
  olert::ComPtr<RequestCollection> form_;
  olert::ComPtr<RequestCollection> query_;
  olert::ComPtr<RequestCollection> vars_;
  olert::ComPtr<RequestCollection> cookies_;  // decoded, for Request(name)
  olert::ComPtr<IDispatch> cookie_jar_;       // Request.Cookies
  size_t total_bytes_;
  const std::string& body_;
  size_t read_offset_ = 0;  // what BinaryRead has handed out
};

// --- Response ----------------------------------------------------------------------

bool IsTokenChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (std::isalnum(u)) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

class ResponseObject final : public AutomationObject, public IQuillTextWriter {
 public:
  explicit ResponseObject(PageEnvironment& env) : env_(env) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object != nullptr && riid == IID_IQuillTextWriter) {
      *object = static_cast<IQuillTextWriter*>(this);
      AddRef();
      return S_OK;
    }
    return AutomationObject::QueryInterface(riid, object);
  }
  ULONG AddRef() override { return AutomationObject::AddRef(); }
  ULONG Release() override { return AutomationObject::Release(); }

  // Write with one text argument (case 1 below), reached without a BSTR.
  HRESULT WriteText(std::string_view utf8, EXCEPINFO* excep) override {
    try {
      if (env_.ended) return S_OK;
      Append(utf8);
      return S_OK;
    } catch (...) {
      return CurrentFailure(excep);
    }
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Write", 1},       {u"End", 2},     {u"Redirect", 3},
                                      {u"ContentType", 4}, {u"Status", 5},  {u"AddHeader", 6},
                                      {u"Clear", 7},       {u"Flush", 8},   {u"Charset", 9},
                                      {u"Buffer", 10},     {u"IsClientConnected", 11},
                                      {u"Cookies", 12}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    PageResponse& r = *env_.response;
    const bool put = IsPut(flags);
    const VARIANT* value = args.put_value();
    auto put_text = [&](std::string_view member) {
      if (value == nullptr) throw AutomationError(DISP_E_PARAMNOTOPTIONAL, std::string(member) + ": no value");
      std::string text;
      if (!VariantToUtf8(*value, &text)) {
        throw AutomationError(DISP_E_TYPEMISMATCH, std::string(member) + ": the value is not a text");
      }
      return text;
    };
    switch (id) {
      case 1: {  // Write
        RequireRead(flags, "");
        if (env_.ended) return;
        const std::string text = args.Text(0, "Response.Write");
        Append(text);
        return;
      }
      case 2:  // End
        RequireRead(flags, "");
        End();
        return;
      case 3: {  // Redirect
        RequireRead(flags, "");
        const std::string url = args.Text(0, "Response.Redirect");
        if (url.empty() || HasControl(url)) {
          throw AutomationError(E_INVALIDARG, "Response.Redirect: the address is empty or has control characters");
        }
        HeadOpen("Response.Redirect");
        r.status = 302;
        r.reason = "Object Moved";
        r.headers.emplace_back("Location", url);
        r.content_type = "text/html";
        r.body = "<html><head><title>Object moved</title></head><body><h1>Object moved</h1>"
                 "<p>This object may be found <a href=\"" + HtmlEncode(url) + "\">here</a>.</p></body></html>";
        End();
        return;
      }
      case 4:  // ContentType
        if (put) {
          HeadOpen("Response.ContentType");
          const std::string text = put_text("Response.ContentType");
          if (text.empty() || text.size() > 200 || HasControl(text)) {
            throw AutomationError(E_INVALIDARG, "Response.ContentType: \"" + text + "\" is not a content type");
          }
          r.content_type = text;
          return;
        }
        SetResultText(result, r.content_type);
        return;
      case 5:  // Status
        if (put) {
          HeadOpen("Response.Status");
          SetStatus(put_text("Response.Status"));
          return;
        }
        SetResultText(result, std::to_string(r.status) + " " + r.reason);
        return;
      case 6: {  // AddHeader
        RequireRead(flags, "");
        HeadOpen("Response.AddHeader");
        const std::string name = args.Text(0, "Response.AddHeader");
        const std::string text = args.Text(1, "Response.AddHeader");
        if (name.empty() || !std::all_of(name.begin(), name.end(), IsTokenChar)) {
          throw AutomationError(E_INVALIDARG, "Response.AddHeader: \"" + name + "\" is not a header name");
        }
        if (HasControl(text)) {
          throw AutomationError(E_INVALIDARG, "Response.AddHeader: the value of " + name + " has control characters");
        }
        if (SameNoCase(name, "Content-Length") || SameNoCase(name, "Transfer-Encoding") ||
            SameNoCase(name, "Connection")) {
          throw AutomationError(E_INVALIDARG, "Response.AddHeader: " + name + " is set by the host");
        }
        if (SameNoCase(name, "Content-Type")) {
          r.content_type = text;
          r.charset.clear();
        } else {
          r.headers.emplace_back(name, text);
        }
        return;
      }
      case 7:  // Clear
        RequireRead(flags, "");
        if (!env_.ended) r.body.clear();
        return;
      case 8:  // Flush
        RequireRead(flags, "");
        if (env_.writer != nullptr && !env_.ended) env_.writer->Flush();
        return;
      case 9:  // Charset
        if (put) {
          HeadOpen("Response.Charset");
          const std::string text = put_text("Response.Charset");
          if (text.size() > 40 || HasControl(text) || text.find(';') != std::string::npos) {
            throw AutomationError(E_INVALIDARG, "Response.Charset: \"" + text + "\" is not a character set");
          }
          r.charset = text;
          return;
        }
        SetResultText(result, r.charset);
        return;
      case 10:  // Buffer
        if (put && env_.writer != nullptr) {
          VARIANT on;
          VariantInit(&on);
          if (value == nullptr || FAILED(VariantChangeType(&on, value, 0, VT_BOOL))) {
            throw AutomationError(DISP_E_TYPEMISMATCH, "Response.Buffer: the value is not true or false");
          }
          env_.writer->SetBuffer(on.boolVal != VARIANT_FALSE);
        } else if (!put) {
          SetResultBool(result, env_.writer == nullptr || env_.writer->buffer());
        }
        return;
      case 11:  // IsClientConnected
        RequireRead(flags, "");
        SetResultBool(result, env_.writer == nullptr || env_.writer->client_connected());
        return;
      case 12:  // Cookies
        if (put) {
          HeadOpen("Response.Cookies");
          PutResponseCookie(env_.response_cookies, args);
        } else if (args.count() > 0 && !args.Missing(0)) {
          SetResultDispatch(result, ResponseCookieNamed(env_.response_cookies, args.Text(0, "Response.Cookies")));
        } else {
          SetResultDispatch(result, AsDispatch(env_.response_cookies));
        }
        return;
    }
  }

 private:
  void Append(std::string_view text) {
    if (env_.writer != nullptr) {
      env_.writer->Write(text);
      return;
    }
    PageResponse& r = *env_.response;
    if (r.body.size() + text.size() > env_.max_response_bytes) {
      throw AutomationError(E_OUTOFMEMORY, "the response is larger than the " +
                                               std::to_string(env_.max_response_bytes) + " bytes allowed");
    }
    r.body.append(text);
  }

  void HeadOpen(const char* member) const {
    if (env_.writer != nullptr) env_.writer->RequireHeadOpen(member);
  }

  void End() {
    env_.ended = true;
    if (env_.stop) env_.stop();
  }

  void SetStatus(const std::string& text) {
    PageResponse& r = *env_.response;
    const bool digits = text.size() >= 3 && std::isdigit(static_cast<unsigned char>(text[0])) &&
                        std::isdigit(static_cast<unsigned char>(text[1])) &&
                        std::isdigit(static_cast<unsigned char>(text[2])) &&
                        (text.size() == 3 || text[3] == ' ');
    const int code = digits ? std::stoi(text.substr(0, 3)) : 0;
    if (!digits || code < 100 || code > 599 || HasControl(text)) {
      throw AutomationError(E_INVALIDARG, "Response.Status: \"" + text +
                                              "\" is not a status such as \"404 Not Found\"");
    }
    r.status = code;
    r.reason = text.size() > 4 ? text.substr(4) : std::string();
  }

  PageEnvironment& env_;
};

// --- Server ------------------------------------------------------------------------

class ServerObject final : public AutomationObject {
 public:
  ServerObject(PageEnvironment& env, PageObjects& objects) : env_(env), objects_(objects) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"CreateObject", 1}, {u"HTMLEncode", 2}, {u"URLEncode", 3},
                                      {u"MapPath", 4},      {u"ScriptTimeout", 5},
                                      {u"Execute", 6},      {u"Transfer", 7},       {u"GetLastError", 8}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    if (id == 5) {
      if (IsPut(flags)) {
        throw AutomationError(E_ACCESSDENIED, "Server.ScriptTimeout is set by the host");
      }
      SetResultInt(result, env_.timeout_seconds);
      return;
    }
    RequireRead(flags, "");
    switch (id) {
      case 1:
        SetResultObject(result, objects_.CreateObject(args.Text(0, "Server.CreateObject")));
        return;
      case 2:
        SetResultText(result, HtmlEncode(args.Text(0, "Server.HTMLEncode")));
        return;
      case 3:
        SetResultText(result, UrlEncode(args.Text(0, "Server.URLEncode")));
        return;
      case 4: {
        const std::string path = args.Text(0, "Server.MapPath");
        if (env_.site == nullptr) throw AutomationError(E_FAIL, "Server.MapPath: the page has no site");
        try {
          SetResultText(result, env_.site->MapPath(VirtualFolder(env_.page_path), path).string());
        } catch (const AutomationError&) {
          throw;
        } catch (const std::exception& e) {
          throw AutomationError(E_INVALIDARG, "Server.MapPath(\"" + path + "\"): " + e.what());
        }
        return;
      }
      case 6:
      case 7:
        ExecutePage(env_, args.Text(0, id == 6 ? "Server.Execute" : "Server.Transfer"), id == 7);
        return;
      case 8:
        SetResultObject(result, NewLastErrorObject(env_.last_error != nullptr ? *env_.last_error : LastError()));
        return;
    }
  }

 private:
  PageEnvironment& env_;
  PageObjects& objects_;
};

// --- The scripting context -------------------------------------------------------

class ScriptingContext final : public AutomationObject {
 public:
  ScriptingContext(IDispatch* request, IDispatch* response, IDispatch* server)
      : request_(olert::ComPtr<IDispatch>::Retain(request)),
        response_(olert::ComPtr<IDispatch>::Retain(response)),
        server_(olert::ComPtr<IDispatch>::Retain(server)) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Request", 1}, {u"Response", 2}, {u"Server", 3}};
    return kMembers;
  }

  bool AlsoImplements(REFIID riid) const override { return riid == IID_IScriptingContext; }

  void Call(DISPID id, WORD flags, const Arguments&, VARIANT* result) override {
    RequireRead(flags, "");
    SetResultDispatch(result, (id == 1 ? request_ : id == 2 ? response_ : server_).get());
  }

 private:
  olert::ComPtr<IDispatch> request_;
  olert::ComPtr<IDispatch> response_;
  olert::ComPtr<IDispatch> server_;
};

// Invokes member `name` of `object` as a method; answers the HRESULT and,
// when it failed, a description.
HRESULT CallByName(IDispatch* object, const char16_t* name, VARIANT* args, UINT count, std::string* error) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS params{args, nullptr, count, 0};
  EXCEPINFO excep{};
  olert::ScopedVariant result;
  SetErrorInfo(0, nullptr);
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), &excep, nullptr);
  if (FAILED(hr) && error != nullptr) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    *error = BstrToUtf8(excep.bstrDescription);
    if (error->empty()) *error = ErrorInfoDescription();
    if (error->empty()) *error = "error " + olert::HresultText(hr);
  }
  olert::ClearExcepInfo(excep);
  return hr;
}

}  // namespace

// ---------------------------------------------------------------------------
// PageObjects

PageObjects::PageObjects(PageEnvironment& env) : env_(env) {
  env.response_cookies = NewResponseCookies();
  response_cookies_ = olert::ComPtr<IDispatch>::Adopt(AsDispatch(env.response_cookies));
  request_ = olert::ComPtr<IDispatch>::Adopt(new RequestObject(env));
  response_ = olert::ComPtr<IDispatch>::Adopt(new ResponseObject(env));
  server_ = olert::ComPtr<IDispatch>::Adopt(new ServerObject(env, *this));
  context_ = olert::ComPtr<IDispatch>::Adopt(new ScriptingContext(request_.get(), response_.get(), server_.get()));
}

PageObjects::~PageObjects() {
  EndPage();
  // In the order they were made, the latest first; the cookies last, as the
  // environment refers to them until they are gone.
  context_.Reset();
  server_.Reset();
  response_.Reset();
  request_.Reset();
  response_cookies_.Reset();
  env_.response_cookies = nullptr;
}

olert::ComPtr<IDispatch> PageObjects::CreateObject(const std::string& progid) {
  if (progid.empty() || progid.size() > 256 || HasControl(progid)) {
    throw AutomationError(CO_E_CLASSSTRING, "Server.CreateObject: \"" + progid + "\" is not a class name");
  }
  const std::u16string wide = Utf8ToUtf16(progid);
  CLSID clsid{};
  HRESULT hr = progid[0] == '{' ? CLSIDFromString(wide.c_str(), &clsid) : CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) {
    throw AutomationError(hr, "Server.CreateObject: the class \"" + progid + "\" is not registered");
  }
  olert::ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.ReceiveVoid());
  if (FAILED(hr) || !object) {
    std::string why = "error " + olert::HresultText(hr);
    if (hr == CO_E_NOTINITIALIZED) why = "the runtime is not initialised on this thread";
    if (hr == REGDB_E_CLASSNOTREG) why = "the class is not registered";
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) why = "its module cannot be loaded";
    if (hr == E_NOINTERFACE) why = "it is no automation object";
    throw AutomationError(FAILED(hr) ? hr : E_NOINTERFACE,
                          "Server.CreateObject: cannot create \"" + progid + "\": " + why);
  }
  NoteCreatedClass(clsid);
  // A component that wants the page's context has OnStartPage.
  VARIANT arg;  // a view of the context: it holds no reference of its own
  VariantInit(&arg);
  arg.vt = VT_UNKNOWN;
  arg.punkVal = context_.get();
  std::string error;
  hr = CallByName(object.get(), u"OnStartPage", &arg, 1, &error);
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) return object;
  if (FAILED(hr)) {
    throw AutomationError(hr, "Server.CreateObject(\"" + progid + "\"): OnStartPage failed: " + error);
  }
  try {
    started_.push_back(object);
  } catch (...) {
    CallByName(object.get(), u"OnEndPage", nullptr, 0, nullptr);
    throw;
  }
  return object;
}

void PageObjects::EndPage() {
  std::vector<olert::ComPtr<IDispatch>> started = std::move(started_);
  started_.clear();
  for (auto it = started.rbegin(); it != started.rend(); ++it) {
    CallByName(it->get(), u"OnEndPage", nullptr, 0, nullptr);
    it->Reset();  // each released once its page has ended, the latest first
  }
}

}  // namespace quill::asp
