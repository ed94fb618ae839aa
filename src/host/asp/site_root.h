// SiteRoot: the folder a host serves pages from, and the one place where
// paths from outside (URLs, include directives, Server.MapPath) become
// files. Nothing outside the root is ever reached: not by "..", not by an
// absolute path, not by a symbolic link that points out of it.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/asp/page_parser.h"

namespace quill::asp {

class SiteRoot {
 public:
  // Raises std::runtime_error when `root` is not an existing folder.
  explicit SiteRoot(const std::filesystem::path& root);

  // The root, with symbolic links resolved.
  const std::filesystem::path& path() const { return root_; }

  // The file or folder that the virtual path `url_path` ("/a/b.asp", already
  // percent-decoded) names, with symbolic links resolved. Nothing when the
  // path is malformed (not starting with '/', a NUL or a backslash, a "."
  // or ".." segment), names nothing, or ends up outside the root.
  std::optional<std::filesystem::path> Resolve(std::string_view url_path) const;

  // The virtual path ("/a/b.asp") of `file`, which must lie inside the root.
  std::string VirtualPath(const std::filesystem::path& file) const;

  // The virtual path that `path` names when written in a file whose virtual
  // folder is `current_folder` ("/a"): a path starting with '/' counts from
  // the root, any other from `current_folder`; "." and ".." segments are
  // applied. Raises std::runtime_error when the result would leave the root
  // or the path has a NUL or a backslash.
  static std::string CombineVirtual(std::string_view current_folder, std::string_view path);

  // Server.MapPath: the physical path of `path` (as CombineVirtual) inside
  // the root; the file need not exist. Raises std::runtime_error when the
  // path leaves the root, also through a symbolic link.
  std::filesystem::path MapPath(std::string_view current_folder, std::string_view path) const;

  // True when `canonical` (symbolic links resolved) is the root or lies in it.
  bool Contains(const std::filesystem::path& canonical) const;

 private:
  std::filesystem::path root_;
};

// SiteRoot::Resolve for the requests of a server, with what it found kept
// for `keep`: resolving follows every link on the way, a system call for
// each folder of the path, while a busy site asks for the same few paths
// all the time. Only paths that lead to something inside the root are
// kept, with what they led to (a file, a folder); a file gone or changed
// since, or a link changed since, is seen within `keep`, as a page's own
// file is. Safe from any thread.
class ResolvedPaths {
 public:
  explicit ResolvedPaths(const SiteRoot& root, std::chrono::milliseconds keep = std::chrono::seconds(1))
      : root_(root), keep_(keep) {}

  // `kind`, when given, receives the status of what the path leads to
  // (a default status, of type none, when it leads nowhere).
  std::optional<std::filesystem::path> Resolve(std::string_view url_path,
                                               std::filesystem::file_status* kind = nullptr);

 private:
  struct Found {
    std::filesystem::path file;
    std::filesystem::file_status kind;
    std::chrono::steady_clock::time_point until;
  };

  const SiteRoot& root_;
  const std::chrono::milliseconds keep_;
  std::mutex mutex_;
  std::unordered_map<std::string, Found> found_;
};

// The folder part of a virtual path: "/a/b.asp" -> "/a", "/b.asp" -> "/".
std::string VirtualFolder(std::string_view virtual_path);

// Includes read from the site. Includes are regular files inside the root;
// file="..." is relative to the including file and may not start with '/'.
class SiteSource : public PageSource {
 public:
  explicit SiteSource(const SiteRoot& root) : root_(root) {}

  // The page at virtual path `url_path`. Raises std::runtime_error when it
  // cannot be read or is larger than kMaxPageBytes.
  SourceFile Open(std::string_view url_path);

  SourceFile Include(const std::string& from, bool is_virtual, const std::string& path) override;

  // The files read so far (the page and its includes), by the names their
  // SourceFiles carry, as they were resolved for reading.
  const std::map<std::string, std::filesystem::path>& files_read() const { return files_read_; }

 private:
  SourceFile Read(const std::string& virtual_path);

  const SiteRoot& root_;
  std::map<std::string, std::filesystem::path> files_read_;
};

}  // namespace quill::asp
