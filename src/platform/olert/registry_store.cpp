// registry_store.cpp: the registry tree and its file.
//
// The whole registry is one text file. Every registry call looks at it
// afresh so that processes see each other's writes, but parses it only when
// it changed since the last parse (a page host makes dozens of calls per
// request against a file that changes once at registration); readers share
// that parsed tree, immutable, instead of copying it. File format (UTF-8, lines end in
// "\n", a trailing "\r" is tolerated):
//
//   olert-registry 1                       first line, always
//   ; comment                              ignored, as are blank lines
//   [HKEY_CLASSES_ROOT\CLSID\{...}]        a key: root name, then subkeys
//   @=sz:"C:%5Cpath"                       the key's default value
//   "ThreadingModel"=sz:"Apartment"        a named value
//   "Flags"=dword:0000000a                 REG_DWORD, 8 hex digits
//   "Blob"=hex(3):00ff10                   any type number, raw bytes in hex
//
// Values belong to the key line above them. In key names, value names and
// string data the bytes % " = [ ] \ and control characters are written as
// %XX; everything else, UTF-8 included, is written as it is. "sz" and
// "expand_sz" stand for REG_SZ/REG_EXPAND_SZ data that ends in its only NUL;
// other data is kept exactly in the hex form. A key appears once; parents
// are written before their children; keys and values are written in name
// order.
//
// Writers serialise on an flock of "<file>.lock" and replace the file by
// renaming a completed new file over it, so readers need no lock and a
// crash never leaves a torn file. A file that does not parse is reported
// (ERROR_BADDB) and never overwritten.
#include "platform/olert/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <utility>

namespace olert::detail {

const char* const kRootNames[4] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                   "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

namespace {

constexpr std::string_view kMagic = "olert-registry 1";

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%' || c == '"' || c == '=' || c == '[' || c == ']' ||
         c == '\\';
}

std::string Escape(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reverses Escape; false for a broken %XX or a byte that should have been
// escaped (other than '\', which key paths use as their separator).
bool Unescape(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '%') {
      if (i + 2 >= s.size()) return false;
      int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi << 4 | lo);
      i += 2;
    } else if (NeedsEscape(c)) {
      return false;
    } else {
      out += static_cast<char>(c);
    }
  }
  return true;
}

bool ParseHexBytes(std::string_view s, std::string& out) {
  if (s.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

// A double-quoted escaped text at the start of `s`; `s` moves past it.
bool TakeQuoted(std::string_view& s, std::string& out) {
  if (s.empty() || s[0] != '"') return false;
  size_t end = s.find('"', 1);
  if (end == std::string_view::npos) return false;
  if (!Unescape(s.substr(1, end - 1), out)) return false;
  s.remove_prefix(end + 1);
  return true;
}

bool ParseValueLine(std::string_view line, RegistryValue& v) {
  if (line[0] == '@') {
    v.name.clear();
    line.remove_prefix(1);
  } else if (!TakeQuoted(line, v.name)) {
    return false;
  }
  if (line.empty() || line[0] != '=') return false;
  line.remove_prefix(1);
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view tag = line.substr(0, colon);
  std::string_view data = line.substr(colon + 1);
  if (tag == "sz" || tag == "expand_sz") {
    v.type = tag == "sz" ? REG_SZ : REG_EXPAND_SZ;
    if (!TakeQuoted(data, v.data) || !data.empty()) return false;
    if (v.data.find('\0') != std::string::npos) return false;
    v.data += '\0';
    return true;
  }
  if (tag == "dword") {
    std::string bytes;
    if (data.size() != 8 || !ParseHexBytes(data, bytes)) return false;
    v.type = REG_DWORD;
    v.data.assign(bytes.rbegin(), bytes.rend());  // written big-endian, kept little-endian
    return true;
  }
  if (tag.size() > 5 && tag.substr(0, 4) == "hex(" && tag.back() == ')') {
    std::string_view number = tag.substr(4, tag.size() - 5);
    if (number.empty() || number.size() > 10) return false;
    uint64_t type = 0;
    for (char c : number) {
      if (c < '0' || c > '9') return false;
      type = type * 10 + static_cast<uint64_t>(c - '0');
    }
    if (type > 0xFFFFFFFFu) return false;
    v.type = static_cast<DWORD>(type);
    return ParseHexBytes(data, v.data);
  }
  return false;
}

void WriteValue(std::string& out, const RegistryValue& v) {
  static const char kHex[] = "0123456789abcdef";
  if (v.name.empty()) {
    out += '@';
  } else {
    out += '"';
    out += Escape(v.name);
    out += '"';
  }
  out += '=';
  bool text_type = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
  if (text_type && !v.data.empty() && v.data.find('\0') == v.data.size() - 1) {
    out += v.type == REG_SZ ? "sz:\"" : "expand_sz:\"";
    out += Escape(std::string_view(v.data).substr(0, v.data.size() - 1));
    out += '"';
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    char buf[16];
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = d << 8 | static_cast<unsigned char>(v.data[i]);
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out += buf;
  } else {
    out += "hex(" + std::to_string(v.type) + "):";
    for (char ch : v.data) {
      auto c = static_cast<unsigned char>(ch);
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out += '\n';
}

void WriteKey(std::string& out, const std::string& path, const RegistryKey& key) {
  bool is_root = path.find('\\') == std::string::npos;
  if (!is_root || !key.values.empty()) {
    out += '[' + path + "]\n";
    for (const auto& [folded, value] : key.values) WriteValue(out, value);
  }
  for (const auto& [folded, sub] : key.subkeys) WriteKey(out, path + '\\' + Escape(sub.name), sub);
}

bool ReadAll(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) return false;
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Holds an exclusive flock for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

LONG WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp." + std::to_string(getpid());
  mode_t mode = 0644;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return ERROR_CANTWRITE;
  bool ok = WriteAll(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return ERROR_SUCCESS;
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

RegistryTree::RegistryTree() {
  for (const char* root : kRootNames) top_.subkeys[FoldName(root)].name = root;
}

RegistryKey* RegistryTree::Find(const std::vector<std::string>& path) {
  return const_cast<RegistryKey*>(std::as_const(*this).Find(path));
}

const RegistryKey* RegistryTree::Find(const std::vector<std::string>& path) const {
  const RegistryKey* key = &top_;
  for (const std::string& part : path) {
    auto it = key->subkeys.find(FoldName(part));
    if (it == key->subkeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

std::string Serialize(RegistryTree& tree) {
  std::string out(kMagic);
  out += '\n';
  for (const auto& [folded, root] : tree.top().subkeys) WriteKey(out, root.name, root);
  return out;
}

bool Parse(std::string_view text, RegistryTree& tree) {
  if (text.empty()) return true;  // a new, empty file
  std::set<const RegistryKey*> declared;
  RegistryKey* current = nullptr;
  bool first = true;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line != kMagic) return false;
      first = false;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') return false;
      std::string_view path = line.substr(1, line.size() - 2);
      RegistryKey* key = &tree.top();
      bool at_top = true;
      while (true) {
        size_t sep = path.find('\\');
        std::string part;
        if (!Unescape(path.substr(0, sep), part) || part.empty()) return false;
        std::string folded = FoldName(part);
        auto it = key->subkeys.find(folded);
        if (it == key->subkeys.end()) {
          if (at_top) return false;  // only the predefined roots sit at the top
          it = key->subkeys.emplace(folded, RegistryKey{}).first;
          it->second.name = part;
        }
        key = &it->second;
        at_top = false;
        if (sep == std::string_view::npos) break;
        path.remove_prefix(sep + 1);
      }
      if (!declared.insert(key).second) return false;
      current = key;
      continue;
    }
    if (line[0] == '@' || line[0] == '"') {
      RegistryValue value;
      if (current == nullptr || !ParseValueLine(line, value)) return false;
      if (!current->values.emplace(FoldName(value.name), value).second) return false;
      continue;
    }
    return false;
  }
  return !first;
}

std::string RegistryFile::Path() {
  const char* env = std::getenv("OLE_REGISTRY");
  if (env != nullptr && *env != '\0') return env;
  std::string home;
  const char* h = std::getenv("HOME");
  if (h != nullptr && *h != '\0') {
    home = h;
  } else {
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return home + "/.local/share/olert/registry";
}

namespace {

// What tells one version of the file from another. Writers rename a new
// file over the old one, so a written file has a new inode; an edit in
// place changes the size or the times.
struct FileVersion {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileVersion Of(const std::string& path, const struct stat& st) {
    return FileVersion{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FileVersion& o) const {
    return path == o.path && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

// The last tree parsed or written, with the version of the file it came
// from. Readers take a reference to the tree; a new version replaces it.
struct ParsedFile {
  std::mutex mutex;
  bool valid = false;
  FileVersion version;
  std::shared_ptr<const RegistryTree> tree;
};

ParsedFile& LastParsed() {
  static ParsedFile* parsed = new ParsedFile;  // lives to the end: used from exit paths too
  return *parsed;
}

// What a registry without a file holds: the predefined roots.
const std::shared_ptr<const RegistryTree>& EmptyTree() {
  static auto* empty = new std::shared_ptr<const RegistryTree>(std::make_shared<RegistryTree>());
  return *empty;
}

// Keeps `tree` as the parsed form of the file at `path`, as it is now.
void Remember(const std::string& path, const struct stat& st,
              std::shared_ptr<const RegistryTree> tree) {
  ParsedFile& last = LastParsed();
  std::lock_guard<std::mutex> hold(last.mutex);
  last.version = FileVersion::Of(path, st);
  last.tree = std::move(tree);
  last.valid = true;
}

}  // namespace

LONG RegistryFile::Snapshot(std::shared_ptr<const RegistryTree>& tree) {
  std::string path = Path();
  if (path.empty()) {  // nowhere to keep it: empty
    tree = EmptyTree();
    return ERROR_SUCCESS;
  }
  ParsedFile& last = LastParsed();
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    std::lock_guard<std::mutex> hold(last.mutex);
    if (last.valid && last.version == FileVersion::Of(path, st)) {
      tree = last.tree;
      return ERROR_SUCCESS;
    }
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) return ERROR_CANTREAD;
    tree = EmptyTree();
    return ERROR_SUCCESS;
  }
  std::string text;
  const bool have_version = fstat(fd, &st) == 0;
  bool ok = ReadAll(fd, text);
  close(fd);
  if (!ok) return ERROR_CANTREAD;
  auto parsed = std::make_shared<RegistryTree>();
  if (!Parse(text, *parsed)) return ERROR_BADDB;
  if (have_version) Remember(path, st, parsed);
  tree = std::move(parsed);
  return ERROR_SUCCESS;
}

LONG RegistryFile::Load(RegistryTree& tree) {
  std::shared_ptr<const RegistryTree> current;
  const LONG status = Snapshot(current);
  if (status == ERROR_SUCCESS) tree = *current;
  return status;
}

LONG RegistryFile::Update(const std::function<LONG(RegistryTree& tree, bool& changed)>& change) {
  std::string path = Path();
  if (path.empty()) return ERROR_CANTOPEN;
  if (!MakeDirectories(DirectoryOf(path))) return ERROR_CANTWRITE;
  FileLock lock(path + ".lock");
  if (!lock.held()) return ERROR_CANTOPEN;
  RegistryTree tree;
  LONG status = Load(tree);
  if (status != ERROR_SUCCESS) return status;
  bool changed = false;
  status = change(tree, changed);
  if (status != ERROR_SUCCESS || !changed) return status;
  status = WriteFileAtomically(path, Serialize(tree));
  // The file is ours while the lock is held: what it holds now is `tree`,
  // so this process reads its own write without parsing it back.
  struct stat st;
  if (status == ERROR_SUCCESS && stat(path.c_str(), &st) == 0) {
    Remember(path, st, std::make_shared<const RegistryTree>(std::move(tree)));
  }
  return status;
}

}  // namespace olert::detail
