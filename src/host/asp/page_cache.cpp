// Compiled pages kept while their files stay as they were.
#include "host/asp/page_cache.h"

#include "host/asp/script_engine.h"

namespace quill::asp {

namespace {

// The size and time of `file`; false when it cannot be read.
bool StampOf(const std::filesystem::path& file, uintmax_t* size, std::filesystem::file_time_type* modified) {
  std::error_code ec;
  *size = std::filesystem::file_size(file, ec);
  if (ec) return false;
  *modified = std::filesystem::last_write_time(file, ec);
  return !ec;
}

}  // namespace

bool PageCache::Unchanged(const std::vector<Stamp>& stamps) {
  for (const Stamp& s : stamps) {
    uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    if (!StampOf(s.file, &size, &modified) || size != s.size || modified != s.modified) return false;
  }
  return true;
}

std::string PageCache::Key(const SiteRoot& site, const std::string& virtual_path) {
  return site.path().string() + '\n' + virtual_path;
}

std::shared_ptr<const CompiledPage> PageCache::Peek(const SiteRoot& site, const std::string& virtual_path) const {
  const std::string key = Key(site, virtual_path);
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = pages_.find(key);
  return found != pages_.end() ? found->second.page : nullptr;
}

std::shared_ptr<const CompiledPage> PageCache::Get(const SiteRoot& site, const std::string& virtual_path,
                                                   std::shared_ptr<ProgramCode>* code) {
  const std::string key = Key(site, virtual_path);
  const auto now = std::chrono::steady_clock::now();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = pages_.find(key);
    if (found != pages_.end()) {
      Entry& entry = found->second;
      if (now - entry.checked < check_interval_) {
        if (code != nullptr) *code = entry.code;
        return entry.page;
      }
      const std::vector<Stamp> stamps = entry.stamps;
      lock.unlock();
      const bool unchanged = Unchanged(stamps);  // no lock held while the disk answers
      lock.lock();
      found = pages_.find(key);
      if (unchanged && found != pages_.end()) {
        found->second.checked = now;
        if (code != nullptr) *code = found->second.code;
        return found->second.page;
      }
    }
  }
  SiteSource source(site);
  auto page = std::make_shared<CompiledPage>(CompilePage(source.Open(virtual_path), source));
  Entry entry;
  entry.page = page;
  entry.code = std::make_shared<ProgramCode>();
  entry.checked = now;
  if (code != nullptr) *code = entry.code;
  for (const std::string& name : page->files) {
    // Each file was resolved when it was read; only a name that was not
    // (none should be) is resolved again.
    const auto read = source.files_read().find(name);
    const std::optional<std::filesystem::path> file =
        read != source.files_read().end() ? std::optional<std::filesystem::path>(read->second) : site.Resolve(name);
    Stamp s;
    if (!file || !StampOf(*file, &s.size, &s.modified)) {
      s.file = site.path() / name.substr(1);  // will not match: compiled again next time
    } else {
      s.file = *file;
    }
    entry.stamps.push_back(std::move(s));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++compiles_;
  if (pages_.size() >= max_pages_) pages_.clear();
  pages_[key] = std::move(entry);
  return page;
}

size_t PageCache::compiles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return compiles_;
}

std::shared_ptr<const CompiledPage> LoadPage(const SiteRoot& site, const std::string& virtual_path,
                                             PageCache* cache, std::shared_ptr<ProgramCode>* code) {
  if (cache != nullptr) return cache->Get(site, virtual_path, code);
  SiteSource source(site);
  return std::make_shared<CompiledPage>(CompilePage(source.Open(virtual_path), source));
}

}  // namespace quill::asp
