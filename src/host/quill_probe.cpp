// quill-probe: a page host in miniature. It uses Quill.so exactly as any
// client would, through the binary contract only: it registers the module
// in a registry file of its own, creates "Harrow.Quill" by ProgID, connects
// it to the database server named by the QUILL_TEST_* environment, loads a
// small shop database through the object, and writes an HTML page whose
// tables the object renders (a master table of customers, each followed by
// its orders as a detail table, and the lines of every order).
//
//   quill-probe [OUTPUT.html]
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
#include <vector>

#include "platform/olert/olert.h"

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
  VARIANT v;
  Value() { VariantInit(&v); }
  Value(const char* text) : Value(std::string_view(text)) {}
  Value(std::string_view text) {
    VariantInit(&v);
    const std::u16string w = Wide(text);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  Value(const std::string& text) : Value(std::string_view(text)) {}
  Value(int n) {
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
  }
  static Value Date(double days) {
    Value v;
    v.v.vt = VT_DATE;
    v.v.date = days;
    return v;
  }
  Value(bool b) {
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  }
  Value(const Value& o) {
    VariantInit(&v);
    VariantCopy(&v, &o.v);
  }
  Value& operator=(const Value& o) {
    VariantCopy(&v, &o.v);
    return *this;
  }
  ~Value() { VariantClear(&v); }

  std::string Text() const {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, VARIANT_ALPHABOOL, VT_BSTR))) return std::string();
    std::string s = Narrow(t.bstrVal, SysStringLen(t.bstrVal));
    VariantClear(&t);
    return s;
  }
  bool Truth() const {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, 0, VT_BOOL))) return false;
    return t.boolVal != VARIANT_FALSE;
  }
};

// An IDispatch reference with calls by name; a failure throws with the
// object's own description of it.
class Object {
 public:
  Object() = default;
  explicit Object(IDispatch* p) : p_(p) {}
  Object(const Object& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Object& operator=(Object o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Object() {
    if (p_) p_->Release();
  }

  Value Call(const char* name, WORD flags, std::initializer_list<Value> args) const {
    std::u16string n = Wide(name);
    LPOLESTR names[] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = p_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) throw std::runtime_error(std::string("unknown member ") + name);
    std::vector<VARIANT> rg;
    for (auto it = std::rbegin(args); it != std::rend(args); ++it) rg.push_back(it->v);
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(), nullptr, static_cast<UINT>(rg.size()), 0};
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof(excep));
    Value result;
    hr = p_->Invoke(id, IID_NULL, 0, flags, &params, &result.v, &excep, nullptr);
    if (FAILED(hr)) {
      std::string why = excep.bstrDescription
                            ? Narrow(excep.bstrDescription, SysStringLen(excep.bstrDescription))
                            : "error " + std::to_string(hr);
      SysFreeString(excep.bstrDescription);
      SysFreeString(excep.bstrSource);
      SysFreeString(excep.bstrHelpFile);
      throw std::runtime_error(std::string(name) + ": " + why);
    }
    return result;
  }
  Value Get(const char* name, std::initializer_list<Value> args = {}) const {
    return Call(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args);
  }
  void Run(const char* name, std::initializer_list<Value> args = {}) const {
    Call(name, DISPATCH_METHOD, args);
  }
  static Object From(const Value& v) {
    if (v.v.vt != VT_DISPATCH || v.v.pdispVal == nullptr) throw std::runtime_error("not an object");
    v.v.pdispVal->AddRef();
    return Object(v.v.pdispVal);
  }

 private:
  IDispatch* p_ = nullptr;
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
  IDispatch* object = nullptr;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&object));
  if (FAILED(hr) || object == nullptr) throw std::runtime_error("CoCreateInstance failed");
  return Object(object);
}

// The sample shop, loaded through the object itself.
const char* const kShopStatements[] = {
    "drop table if exists order_lines, orders, products, customers",
    "create table customers (id int primary key, name varchar(40) not null, "
    "city varchar(40), since date)",
    "create table products (id int primary key, name varchar(40) not null, "
    "category enum('fruit','vegetable','dairy','bakery') not null, price decimal(8,2) not null)",
    "create table orders (id int primary key, customer_id int not null, ordered date not null, "
    "status enum('new','paid','shipped') not null default 'new')",
    "create table order_lines (order_id int not null, line int not null, product_id int not null, "
    "quantity int not null, price decimal(8,2) not null, primary key (order_id, line))",
    "insert into customers values (1, 'Ada Byron', 'London', '2019-03-14'), "
    "(2, 'Blaise Pascal', 'Clermont', '2020-06-19'), (3, 'Grace Hopper', 'New York', '2021-12-09'), "
    "(4, 'Zoë Ärger und Söhne', 'Zürich', NULL)",
    "insert into products values (1, 'Apple', 'fruit', 0.45), (2, 'Pear', 'fruit', 0.55), "
    "(3, 'Carrot', 'vegetable', 0.20), (4, 'Cheese (aged)', 'dairy', 7.90), "
    "(5, 'Rye bread', 'bakery', 3.10)",
    "insert into orders values (100, 1, '2024-01-05', 'shipped'), (101, 1, '2024-02-11', 'paid'), "
    "(102, 2, '2024-02-12', 'new'), (103, 3, '2024-03-01', 'shipped')",
    "insert into order_lines values (100, 1, 1, 12, 0.45), (100, 2, 4, 1, 7.90), "
    "(101, 1, 5, 2, 3.10), (102, 1, 2, 6, 0.55), (102, 2, 3, 10, 0.20), (103, 1, 4, 2, 7.50)",
};

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string build = BuildDir();
    const std::string work = build + "/quill-probe";
    mkdir(work.c_str(), 0755);
    const std::string page_path = argc > 1 ? argv[1] : work + "/shop.html";
    if (Env("OLE_REGISTRY").empty()) setenv("OLE_REGISTRY", (work + "/registry").c_str(), 1);
    const std::string module = Env("QUILL_MODULE", (build + "/lib/Quill.so").c_str());

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
      for (const char* sql : kShopStatements) quill.Run("ExecSQL", {sql, ""});

      quill.Get("Dataset", {"products", "products", true});
      Object customers = Object::From(quill.Get("Dataset", {"customers", "customers", true}));
      // Orders follow the current customer, lines the current order.
      quill.Get("Dataset", {"orders", "orders", true, "customers", "customer_id=id"});
      quill.Get("Dataset", {"lines", "order_lines", true, "orders", "order_id=id"});
      Object orders = Object::From(quill.Get("Dataset", {"orders"}));

      page += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Quill shop</title>\n"
              "<style>body{font-family:sans-serif}table{border-collapse:collapse;margin:.5em 0}"
              "td{border:1px solid #999;padding:2px 6px}h2{margin-top:1.5em}"
              ".order{margin-left:2em}</style></head><body>\n";
      page += "<h1>Quill shop</h1>\n<p>Rendered by Harrow.Quill on " +
              quill.Get("FormatDateTime", {"dddd, mmmm d, yyyy \"at\" hh:nn", Value::Date(Today())})
                  .Text() +
              ".</p>\n";
      page += "<h2>Products</h2>\n" + quill.Get("ContentTable", {"products"}).Text() + "\n";
      page += "<h2>Customers</h2>\n" + quill.Get("ContentTable", {"customers"}).Text() + "\n";

      // Each customer with its orders (the detail of the customer row) and
      // the lines of each order.
      customers.Run("First");
      while (!customers.Get("Eof").Truth()) {
        page += quill.Get("Content", {"customers", false,
                                      "<h2>Orders of <#name> (<#city>), customer no. <#id></h2>"})
                    .Text() +
                "\n";
        page += quill.Get("ContentTable", {"orders"}).Text() + "\n";
        orders.Run("First");
        while (!orders.Get("Eof").Truth()) {
          page += "<div class=\"order\">" +
                  quill.Get("Content", {"orders", false,
                                        "<h3>Order <#id> of <#ordered>: <#status></h3>"})
                      .Text();
          page += quill.Get("ContentTable", {"lines"}).Text() + "</div>\n";
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
