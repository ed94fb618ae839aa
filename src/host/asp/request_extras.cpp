// Server variables, BinaryRead and Server.Execute/Transfer.
#include "host/asp/request_extras.h"

#include <algorithm>
#include <cstring>

namespace quill::asp {

void AddServerVariables(const PageEnvironment& env, NameValueList& vars) {
  const PageRequest& r = *env.request;
  vars.emplace_back("HTTPS", r.https ? "on" : "off");
  std::string all_http;
  std::string all_raw;
  for (const auto& [name, value] : r.headers) {
    std::string var = "HTTP_";
    for (const char c : name) {
      var.push_back(c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    all_http += var + ":" + value + "\n";
    all_raw += name + ": " + value + "\r\n";
  }
  vars.emplace_back("ALL_HTTP", all_http);
  vars.emplace_back("ALL_RAW", all_raw);
}

void BinaryRead(const std::string& body, size_t* offset, const Arguments& args, VARIANT* result) {
  const int32_t want = args.Int(0, "Request.BinaryRead");
  if (want < 0) throw AutomationError(E_INVALIDARG, "Request.BinaryRead: the count is negative");
  const size_t count = std::min(static_cast<size_t>(want), body.size() - std::min(*offset, body.size()));
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
  if (array == nullptr) throw AutomationError(E_OUTOFMEMORY, "Request.BinaryRead: out of memory");
  if (count > 0) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
      SafeArrayDestroy(array);
      throw AutomationError(E_FAIL, "Request.BinaryRead: cannot fill the array");
    }
    std::memcpy(data, body.data() + *offset, count);
    SafeArrayUnaccessData(array);
  }
  *offset += count;
  if (result == nullptr) {
    SafeArrayDestroy(array);
    return;
  }
  VariantClear(result);
  result->vt = VT_ARRAY | VT_UI1;
  result->parray = array;
}

void ExecutePage(PageEnvironment& env, const std::string& path, bool transfer) {
  const char* member = transfer ? "Server.Transfer" : "Server.Execute";
  if (env.site == nullptr || !env.execute) throw AutomationError(E_FAIL, std::string(member) + ": no site to run pages of");
  std::string target = path.substr(0, path.find('?'));
  try {
    target = SiteRoot::CombineVirtual(VirtualFolder(env.page_path), target);
  } catch (const std::exception& e) {
    throw AutomationError(E_INVALIDARG, std::string(member) + "(\"" + path + "\"): " + e.what());
  }
  if (env.ended) return;
  env.execute(target);
  if (transfer) {
    env.ended = true;
    if (env.stop) env.stop();
  }
}

}  // namespace quill::asp
