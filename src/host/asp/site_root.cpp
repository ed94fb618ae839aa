// Paths from outside mapped to files inside the site root.
#include "host/asp/site_root.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace quill::asp {

namespace fs = std::filesystem;

namespace {

bool HasForbiddenChar(std::string_view path) {
  return path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos;
}

}  // namespace

SiteRoot::SiteRoot(const fs::path& root) {
  std::error_code ec;
  root_ = fs::canonical(root, ec);
  if (ec || !fs::is_directory(root_, ec)) {
    throw std::runtime_error("the site root \"" + root.string() + "\" is not a folder");
  }
}

bool SiteRoot::Contains(const fs::path& canonical) const {
  auto r = root_.begin();
  auto c = canonical.begin();
  for (; r != root_.end(); ++r, ++c) {
    if (c == canonical.end() || *r != *c) return false;
  }
  return true;
}

std::optional<fs::path> SiteRoot::Resolve(std::string_view url_path) const {
  if (url_path.empty() || url_path[0] != '/' || HasForbiddenChar(url_path)) return std::nullopt;
  fs::path candidate = root_;
  size_t pos = 1;
  while (pos <= url_path.size()) {
    size_t slash = url_path.find('/', pos);
    if (slash == std::string_view::npos) slash = url_path.size();
    const std::string_view segment = url_path.substr(pos, slash - pos);
    if (segment == "." || segment == "..") return std::nullopt;
    if (!segment.empty()) candidate /= std::string(segment);
    pos = slash + 1;
  }
  std::error_code ec;
  fs::path canonical = fs::canonical(candidate, ec);
  if (ec || !Contains(canonical)) return std::nullopt;
  return canonical;
}

std::optional<fs::path> ResolvedPaths::Resolve(std::string_view url_path, fs::file_status* kind) {
  constexpr size_t kMaxKept = 4096;
  const auto now = std::chrono::steady_clock::now();
  std::string key(url_path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = found_.find(key);
    if (found != found_.end() && now < found->second.until) {
      if (kind != nullptr) *kind = found->second.kind;
      return found->second.file;
    }
  }
  std::optional<fs::path> file = root_.Resolve(url_path);
  fs::file_status status;
  if (file) {
    std::error_code ec;
    status = fs::status(*file, ec);
    std::lock_guard<std::mutex> lock(mutex_);
    if (found_.size() >= kMaxKept) found_.clear();
    found_.insert_or_assign(std::move(key), Found{*file, status, now + keep_});
  }
  if (kind != nullptr) *kind = status;
  return file;
}

std::string SiteRoot::VirtualPath(const fs::path& file) const {
  std::string out;
  auto r = root_.begin();
  auto f = file.begin();
  for (; r != root_.end() && f != file.end(); ++r, ++f) {
  }
  for (; f != file.end(); ++f) {
    if (f->empty()) continue;
    out += '/';
    out += f->string();
  }
  return out.empty() ? "/" : out;
}

std::string SiteRoot::CombineVirtual(std::string_view current_folder, std::string_view path) {
  if (HasForbiddenChar(path) || HasForbiddenChar(current_folder)) {
    throw std::runtime_error("the path contains a forbidden character");
  }
  std::vector<std::string> parts;
  auto add = [&parts](std::string_view text) {
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t slash = text.find('/', pos);
      if (slash == std::string_view::npos) slash = text.size();
      const std::string_view segment = text.substr(pos, slash - pos);
      if (segment == "..") {
        if (parts.empty()) throw std::runtime_error("the path leaves the site root");
        parts.pop_back();
      } else if (!segment.empty() && segment != ".") {
        parts.emplace_back(segment);
      }
      pos = slash + 1;
    }
  };
  if (path.empty() || path[0] != '/') add(current_folder);
  add(path);
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

fs::path SiteRoot::MapPath(std::string_view current_folder, std::string_view path) const {
  const std::string virtual_path = CombineVirtual(current_folder, path);
  fs::path physical = root_;
  if (virtual_path != "/") physical /= virtual_path.substr(1);
  // Whatever part of it exists must not lead out of the root by a link.
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(physical, ec);
  if (ec || !Contains(resolved)) throw std::runtime_error("the path leaves the site root");
  return physical;
}

std::string VirtualFolder(std::string_view virtual_path) {
  const size_t slash = virtual_path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return "/";
  return std::string(virtual_path.substr(0, slash));
}

SourceFile SiteSource::Read(const std::string& virtual_path) {
  const std::optional<fs::path> file = root_.Resolve(virtual_path);
  std::error_code ec;
  if (!file) throw std::runtime_error("not found inside the site root");
  if (!fs::is_regular_file(*file, ec)) throw std::runtime_error("not a file");
  const auto size = fs::file_size(*file, ec);
  if (ec) throw std::runtime_error("cannot be read");
  if (size > kMaxPageBytes) {
    throw std::runtime_error("larger than " + std::to_string(kMaxPageBytes >> 20) + " MiB");
  }
  std::ifstream in(*file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  std::string name = root_.VirtualPath(*file);
  files_read_[name] = *file;
  return SourceFile{std::move(name), text.str()};
}

SourceFile SiteSource::Open(std::string_view url_path) { return Read(std::string(url_path)); }

SourceFile SiteSource::Include(const std::string& from, bool is_virtual, const std::string& path) {
  if (!is_virtual && !path.empty() && path[0] == '/') {
    throw std::runtime_error("file= paths are relative to the including file; use virtual= for a path from the site root");
  }
  return Read(SiteRoot::CombineVirtual(VirtualFolder(from), path));
}

}  // namespace quill::asp
