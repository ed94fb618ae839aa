// PageCache: compiled pages, kept for the next request.
//
// A page is compiled together with its includes once and reused until one
// of those files changes (size or modification time), which is checked at
// most once per `check_interval` for each page. With the program the cache
// keeps the engine's bytecode of it, made by the first run. Each request
// still runs it in a script heap of its own, so nothing a page defines
// reaches the next request. Safe from any thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/asp/page_parser.h"
#include "host/asp/site_root.h"

namespace quill::asp {

class ProgramCode;

class PageCache {
 public:
  explicit PageCache(std::chrono::milliseconds check_interval = std::chrono::seconds(1),
                     size_t max_pages = 2000)
      : check_interval_(check_interval), max_pages_(max_pages) {}

  // The compiled page at `virtual_path` of `site`. Raises as SiteSource::Open
  // and CompilePage do; failures are not kept.
  // `code` (when given) receives the page's bytecode holder.
  std::shared_ptr<const CompiledPage> Get(const SiteRoot& site, const std::string& virtual_path,
                                          std::shared_ptr<ProgramCode>* code = nullptr);

  // The page at `virtual_path` of `site` as kept, without looking at its
  // files; null when none is kept.
  std::shared_ptr<const CompiledPage> Peek(const SiteRoot& site, const std::string& virtual_path) const;

  // How many times a page was compiled (rather than reused).
  size_t compiles() const;

 private:
  struct Stamp {
    std::filesystem::path file;
    uintmax_t size = 0;
    std::filesystem::file_time_type modified;
  };
  struct Entry {
    std::shared_ptr<const CompiledPage> page;
    std::shared_ptr<ProgramCode> code;
    std::vector<Stamp> stamps;
    std::chrono::steady_clock::time_point checked;
  };

  static bool Unchanged(const std::vector<Stamp>& stamps);
  static std::string Key(const SiteRoot& site, const std::string& virtual_path);

  const std::chrono::milliseconds check_interval_;
  const size_t max_pages_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Entry> pages_;  // by the site's root and the virtual path
  size_t compiles_ = 0;
};

// Compiles `virtual_path` of `site`, through `cache` when there is one
// (which then also gives the bytecode holder, else `code` is left null).
std::shared_ptr<const CompiledPage> LoadPage(const SiteRoot& site, const std::string& virtual_path,
                                             PageCache* cache, std::shared_ptr<ProgramCode>* code = nullptr);

}  // namespace quill::asp
