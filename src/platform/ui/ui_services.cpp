// ui_services.cpp: the default provider and the process-wide provider slot.
#include "platform/ui/ui_services.h"

#include <mutex>
#include <utility>

namespace quill::ui {

namespace {

std::mutex g_provider_mutex;

std::shared_ptr<UiProvider>& ProviderSlot() {
  static auto* slot = new std::shared_ptr<UiProvider>(std::make_shared<DefaultUiProvider>());
  return *slot;
}

}  // namespace

int CancelAnswer(unsigned flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDCANCEL;  // OK/Cancel, Yes/No/Cancel, Retry/Cancel, ...
  }
}

int DefaultUiProvider::MessageBox(const std::string&, const std::string&, unsigned flags) {
  return CancelAnswer(flags);
}

std::string DefaultUiProvider::InputBox(const std::string&, const std::string&,
                                        const std::string& default_value) {
  return default_value;
}

bool DefaultUiProvider::InputQuery(const std::string&, const std::string&, std::string&, char) {
  return false;
}

bool DefaultUiProvider::LoginForm(LoginFormState&) { return false; }

void DefaultUiProvider::BeginBusy() { busy_depth_.fetch_add(1); }

void DefaultUiProvider::EndBusy() {
  int depth = busy_depth_.load();
  while (depth > 0 && !busy_depth_.compare_exchange_weak(depth, depth - 1)) {
  }
}

std::shared_ptr<UiProvider> CurrentUiProvider() {
  std::lock_guard<std::mutex> lock(g_provider_mutex);
  return ProviderSlot();
}

std::shared_ptr<UiProvider> SetUiProvider(std::shared_ptr<UiProvider> provider) {
  if (provider == nullptr) provider = std::make_shared<DefaultUiProvider>();
  std::lock_guard<std::mutex> lock(g_provider_mutex);
  std::swap(ProviderSlot(), provider);
  return provider;
}

BusyCursor::BusyCursor() : provider_(CurrentUiProvider()) { provider_->BeginBusy(); }

BusyCursor::~BusyCursor() { provider_->EndBusy(); }

}  // namespace quill::ui
