// quill-probe: a page host in miniature. It uses Quill.so exactly as any
// client would, through the binary contract only: it registers the module
// in a registry file of its own, creates "Harrow.Quill" by ProgID, connects
// it to the database server named by the QUILL_TEST_* environment, loads the
// sample shop (examples/shop/shop.sql) into the database quill_shop through
// the object, and writes an HTML page whose tables the object renders (a
// master table of customers, each followed by its orders as a detail table,
// and the lines of every order). The templates HTML-escape every field text
// (ENCODE=HTML), since the object inserts field texts as they are otherwise.
//
//   quill-probe [OUTPUT.html]
//
// The SQL file is the one of the source tree this program was built from,
// or the file QUILL_SHOP_SQL names.
//
// The page goes to OUTPUT.html, by default quill-probe/shop.html next to the
// build's bin/ and lib/ folders; the registry file is quill-probe/registry
// there unless OLE_REGISTRY names one. The module is <build>/lib/Quill.so,
// or the file QUILL_MODULE names.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/olert/automation.h"

namespace {

// --- Text at the boundary ------------------------------------------------------------

std::u16string Wide(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = c;
    size_t n = 1;
    if (c >= 0xE0 && c < 0xF0 && i + 2 < text.size()) {
      cp = ((c & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
      n = 3;
    } else if (c >= 0xC0 && c < 0xE0 && i + 1 < text.size()) {
      cp = ((c & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
      n = 2;
    }
    out.push_back(static_cast<char16_t>(cp));
    i += n;
  }
  return out;
}

std::string Narrow(const OLECHAR* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// --- Late-bound calls --------------------------------------------------------------------

// One argument of a call.
struct Value {
  olert::ScopedVariant v;
  Value() = default;
  Value(const char* text) : Value(std::string_view(text)) {}
  Value(std::string_view text) {
    v->vt = VT_BSTR;
    v->bstrVal = olert::ScopedBstr::Copy(Wide(text)).Detach();
  }
  Value(const std::string& text) : Value(std::string_view(text)) {}
  Value(int n) {
    v->vt = VT_I4;
    v->lVal = n;
  }
  static Value Date(double days) {
    Value r;
    r.v->vt = VT_DATE;
    r.v->date = days;
    return r;
  }
  Value(bool b) {
    v->vt = VT_BOOL;
    v->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  }
  Value(const Value& o) { v.CopyFrom(*o.v); }
  Value& operator=(const Value& o) {
    if (this != &o) v.CopyFrom(*o.v);
    return *this;
  }
  Value(Value&&) noexcept = default;
  Value& operator=(Value&&) noexcept = default;

  std::string Text() const {
    olert::ScopedVariant t;
    if (FAILED(VariantChangeType(t.get(), v.get(), VARIANT_ALPHABOOL, VT_BSTR))) return std::string();
    return Narrow(t->bstrVal, SysStringLen(t->bstrVal));
  }
  bool Truth() const {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, v.get(), 0, VT_BOOL))) return false;
    return t.boolVal != VARIANT_FALSE;
  }
};

// The description a failed Invoke left in `excep`, or `otherwise`; the
// strings of `excep` are freed.
std::string FailureText(EXCEPINFO& excep, const std::string& otherwise) {
  const std::string why =
      excep.bstrDescription ? Narrow(excep.bstrDescription, SysStringLen(excep.bstrDescription)) : otherwise;
  olert::ClearExcepInfo(excep);
  return why;
}

// An IDispatch reference with calls by name; a failure throws with the
// object's own description of it.
class Object {
 public:
  Object() = default;
  explicit Object(olert::ComPtr<IDispatch> p) : p_(std::move(p)) {}

  Value Call(const char* name, WORD flags, std::initializer_list<Value> args) const {
    const DISPID id = Id(name);
    std::vector<VARIANT> rg;  // views of the arguments, which own them
    for (auto it = std::rbegin(args); it != std::rend(args); ++it) rg.push_back(*it->v);
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), nullptr, static_cast<UINT>(rg.size()), 0};
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof(excep));
    Value result;
    const HRESULT hr = p_->Invoke(id, IID_NULL, 0, flags, &params, result.v.get(), &excep, nullptr);
    if (FAILED(hr)) throw std::runtime_error(std::string(name) + ": " + FailureText(excep, "error " + std::to_string(hr)));
    return result;
  }
  Value Get(const char* name, std::initializer_list<Value> args = {}) const {
    return Call(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
  }
  void Run(const char* name, std::initializer_list<Value> args = {}) const {
    Call(name, DISPATCH_METHOD, args);
  }
  void Put(const char* name, const Value& value) const {
    const DISPID id = Id(name);
    VARIANT arg = *value.v;  // a view
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof(excep));
    if (FAILED(p_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, &excep, nullptr))) {
      throw std::runtime_error(std::string(name) + ": " + FailureText(excep, "cannot be set"));
    }
  }
  static Object From(const Value& v) {
    if (v.v->vt != VT_DISPATCH || v.v->pdispVal == nullptr) throw std::runtime_error("not an object");
    return Object(olert::ComPtr<IDispatch>::Retain(v.v->pdispVal));
  }

 private:
  DISPID Id(const char* name) const {
    std::u16string n = Wide(name);
    LPOLESTR names[] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(p_->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) {
      throw std::runtime_error(std::string("unknown member ") + name);
    }
    return id;
  }

  olert::ComPtr<IDispatch> p_;
};

// --- Setting up ---------------------------------------------------------------------------

std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

// The build folder: the parent of the folder this program lives in.
std::string BuildDir() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return ".";
  std::string path(self, static_cast<size_t>(n));
  path = path.substr(0, path.rfind('/'));  // bin
  return path.substr(0, path.rfind('/'));
}

// The local time now as an automation date: days since 1899-12-30.
double Today() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  const time_t as_utc = timegm(&local);
  return static_cast<double>(as_utc) / 86400.0 + 25569.0;
}

// Loads the module and writes its registry entries into our registry file.
void RegisterModule(const std::string& module) {
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("cannot load ") + dlerror());
  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  if (reg == nullptr) throw std::runtime_error("the module lacks DllRegisterServer");
  if (FAILED(reg())) throw std::runtime_error("DllRegisterServer failed");
  // The module stays loaded: CoCreateInstance below finds it by its path.
}

Object CreateByProgID(const char16_t* progid) {
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(progid, &clsid))) throw std::runtime_error("class not registered");
  olert::ComPtr<IDispatch> object;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.ReceiveVoid());
  if (FAILED(hr) || !object) throw std::runtime_error("CoCreateInstance failed");
  return Object(std::move(object));
}

// The statements of the shop's SQL file. The file keeps to a simple form: a
// statement ends with a semicolon at the end of a line, and lines that start
// with "--" are comments.
std::vector<std::string> ReadStatements(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::string> statements;
  std::string current;
  std::string line;
  while (std::getline(in, line)) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line.compare(first, 2, "--") == 0) continue;
    line.resize(line.find_last_not_of(" \t\r") + 1);
    const bool ends = line.back() == ';';
    if (ends) line.pop_back();
    if (!current.empty()) current += '\n';
    current += line;
    if (ends) {
      statements.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) throw std::runtime_error(path + ": the last statement has no semicolon");
  return statements;
}

// The head and body templates of ContentTable's own table, with every name
// and value HTML-escaped, since the object inserts field texts as they are
// unless a template asks otherwise.
constexpr const char* kTableHead =
    "<table><#FIELDNAMES PREFIX=\"%3ctr%3e\" POSTFIX=\"%3c/tr%3e\" FIELDPREFIX=\"%3ctd%3e\" "
    "FIELDPOSTFIX=\"%3c/td%3e\" ENCODE=HTML>";
constexpr const char* kTableBody =
    "<#FIELDVALUES PREFIX=\"%3ctr%3e\" POSTFIX=\"%3c/tr%3e\" FIELDPREFIX=\"%3ctd%3e\" "
    "FIELDPOSTFIX=\"%3c/td%3e\" ENCODE=HTML>";

// The rows of dataset `name` as an HTML table.
std::string Table(const Object& quill, const char* name) {
  return quill.Get("ContentTable", {name, false, kTableHead, kTableBody, "</table>"}).Text();
}

// A dataset over `sql`, linked to `master` by `condition` when a master is
// given, then opened.
Object QueryDataset(const Object& quill, const char* name, const std::string& sql,
                    const char* master = nullptr, const char* condition = nullptr) {
  Object dataset = Object::From(quill.Get("Dataset", {name, ""}));
  Object::From(dataset.Get("SQL")).Put("text", sql);
  if (master != nullptr) quill.Run("Link", {name, master, condition});
  dataset.Run("Open");
  return dataset;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string build = BuildDir();
    const std::string work = build + "/quill-probe";
    mkdir(work.c_str(), 0755);
    const std::string page_path = argc > 1 ? argv[1] : work + "/shop.html";
    if (Env("OLE_REGISTRY").empty()) setenv("OLE_REGISTRY", (work + "/registry").c_str(), 1);
    const std::string module = Env("QUILL_MODULE", (build + "/lib/Quill.so").c_str());
    const std::string shop_sql = Env("QUILL_SHOP_SQL", QUILL_SHOP_SQL_FILE);

    if (Env("QUILL_TEST_USER").empty()) {
      std::fprintf(stderr,
                   "quill-probe: no database server announced (QUILL_TEST_*); run it through "
                   "scripts/quill-demo or scripts/with-test-server\n");
      return 2;
    }

    RegisterModule(module);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int customer_count = 0, order_count = 0;
    std::string page;
    {
      Object quill = CreateByProgID(u"Harrow.Quill");
      const Value host = Env("QUILL_TEST_HOST", "127.0.0.1"), user = Env("QUILL_TEST_USER"),
                  password = Env("QUILL_TEST_PASSWORD");
      const Value port = std::stoi(Env("QUILL_TEST_PORT", "3306"));
      quill.Run("Connect", {host, user, password, port, Env("QUILL_TEST_DB")});
      // The shop gets a database of its own; the connection then works in it.
      quill.Run("ExecSQL", {"create database if not exists quill_shop character set utf8mb4", ""});
      quill.Run("Connect", {host, user, password, port, "quill_shop"});
      // An empty host runs each statement on the connection made above.
      for (const std::string& sql : ReadStatements(shop_sql)) quill.Run("ExecSQL", {sql, ""});

      QueryDataset(quill, "products", "select id, name, category, price from products");
      Object customers = QueryDataset(quill, "customers", "select id, name, city, since from customers");
      // Orders follow the current customer, lines the current order.
      Object orders = QueryDataset(quill, "orders", "select id, customer_id, ordered, status, note from orders",
                                   "customers", "customer_id=id");
      QueryDataset(quill, "lines", "select * from order_lines", "orders", "order_id=id");

      page += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quill shop</title>\n"
              "<style>body{font-family:sans-serif}table{border-collapse:collapse;margin:.5em 0}"
              "td{border:1px solid #999;padding:2px 6px}h2{margin-top:1.5em}"
              ".order{margin-left:2em}</style></head><body>\n";
      page += "<h1>Quill shop</h1>\n<p>Rendered by Harrow.Quill on " +
              quill.Get("FormatDateTime", {"dddd, mmmm d, yyyy \"at\" hh:nn", Value::Date(Today())})
                  .Text() +
              ".</p>\n";
      page += "<h2>Products</h2>\n" + Table(quill, "products") + "\n";
      page += "<h2>Customers</h2>\n" + Table(quill, "customers") + "\n";

      // Each customer with its orders (the detail of the customer row) and
      // the lines of each order.
      customers.Run("First");
      while (!customers.Get("Eof").Truth()) {
        page += quill.Get("Content", {"customers", false,
                                      "<h2>Orders of <#name ENCODE=HTML> (<#city ENCODE=HTML>), customer no. <#id></h2>"})
                    .Text() +
                "\n";
        page += Table(quill, "orders") + "\n";
        orders.Run("First");
        while (!orders.Get("Eof").Truth()) {
          page += "<div class=\"order\">" +
                  quill.Get("Content", {"orders", false,
                                        "<h3>Order <#id> of <#ordered>: <#status ENCODE=HTML></h3>"})
                      .Text();
          page += Table(quill, "lines") + "</div>\n";
          ++order_count;
          orders.Run("Next");
        }
        ++customer_count;
        customers.Run("Next");
      }
      page += "</body></html>\n";
    }
    CoUninitialize();

    std::ofstream out(page_path, std::ios::binary);
    out << page;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + page_path);
    std::printf("quill-probe: wrote %s (%zu bytes; %d customers, %d orders)\n", page_path.c_str(),
                page.size(), customer_count, order_count);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quill-probe: %s\n", e.what());
    return 1;
  }
}
