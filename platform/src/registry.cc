#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/home.h"
#include "registry_tree.h"

namespace zimo::platform {
namespace {

using regtree::Key;
using regtree::Tree;

constexpr size_t kMaxValueNameLength = 16383;

// Why the last call of this thread failed, for the typed API's messages.
thread_local std::string t_detail;
thread_local int t_errno = 0;

int32_t Fail(int32_t code, std::string detail, int err = 0) {
  t_detail = std::move(detail);
  t_errno = err;
  return code;
}

int32_t IoError(bool writing, const std::string& what, int err) {
  int32_t code = (err == EACCES || err == EPERM || err == EROFS)
                     ? win32::kErrorAccessDenied
                     : (writing ? win32::kErrorCantWrite : win32::kErrorCantRead);
  return Fail(code, what, err);
}

struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const struct stat& st) {
  Stamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

struct HandleInfo {
  std::vector<std::string> path;  // from the top: root name first
  uint32_t access = 0;
};

bool IsPredefined(HKey key) { return key >= kHkeyClassesRoot && key <= kHkeyUsers; }

std::vector<std::string> PredefinedPath(HKey key) {
  switch (key) {
    case kHkeyClassesRoot:
      return {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Classes"};
    case kHkeyCurrentUser:
      return {"HKEY_CURRENT_USER"};
    case kHkeyLocalMachine:
      return {"HKEY_LOCAL_MACHINE"};
    default:
      return {"HKEY_USERS"};
  }
}

std::string JoinPath(const std::vector<std::string>& path) {
  std::string out;
  for (const std::string& p : path) {
    if (!out.empty()) out += '\\';
    out += p;
  }
  return out;
}

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The process's view of the registry file and its open handles.
class Store {
 public:
  static Store& Get() {
    static Store* store = new Store;  // never destroyed: handles may be closed at exit
    return *store;
  }

  std::mutex mu;

  // Brings the tree up to date with the file. Needs mu.
  int32_t Refresh() {
    std::filesystem::path file = RegistryFile();
    if (file != file_) {
      file_ = file;
      loaded_ = false;
    }
    struct stat st;
    if (::stat(file_.c_str(), &st) != 0) {
      if (errno != ENOENT) return IoError(false, "cannot read " + file_.string(), errno);
      if (!loaded_ || stamp_.exists) {
        tree_ = Tree{};
        stamp_ = Stamp{};
        parse_status_ = Status::Ok();
        loaded_ = true;
      }
      return win32::kErrorSuccess;
    }
    if (loaded_ && StampOf(st) == stamp_) return Parsed();
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) {  // replaced between stat and open: look again
        loaded_ = false;
        return Refresh();
      }
      return IoError(false, "cannot open " + file_.string(), errno);
    }
    std::string text;
    int err = 0;
    if (::fstat(fd, &st) != 0) {
      err = errno;
    } else {
      text.resize(static_cast<size_t>(st.st_size));
      size_t done = 0;
      while (done < text.size()) {
        ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          err = errno;
          break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
      }
      text.resize(done);
    }
    ::close(fd);
    if (err != 0) return IoError(false, "cannot read " + file_.string(), err);
    stamp_ = StampOf(st);
    loaded_ = true;
    parse_status_ = regtree::Parse(text, file_.string(), &tree_);
    if (!parse_status_.ok()) tree_ = Tree{};
    return Parsed();
  }

  // Runs `change` on the tree under the file lock and saves the result when
  // it reports a change. Needs mu.
  template <typename F>
  int32_t Write(F change) {
    std::filesystem::path file = RegistryFile();
    std::string lock_name = file.string() + ".lock";
    int lock_fd = ::open(lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock_fd < 0) return IoError(true, "cannot open " + lock_name, errno);
    while (::flock(lock_fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int err = errno;
        ::close(lock_fd);
        return IoError(true, "cannot lock " + lock_name, err);
      }
    }
    RemoveStaleTemporaries(file);
    int32_t result = Refresh();
    if (result == win32::kErrorSuccess) {
      bool changed = false;
      result = change(tree_, &changed);
      if (result == win32::kErrorSuccess && changed) result = Save();
    }
    ::close(lock_fd);  // releases the lock
    return result;
  }

  const Tree& tree() const { return tree_; }
  Tree& mutable_tree() { return tree_; }

  HKey AddHandle(std::vector<std::string> path, uint32_t access) {
    do {
      next_handle_ += 4;
      if (next_handle_ >= 0x7FFFFFF0u) next_handle_ = 0x100;
    } while (handles_.count(next_handle_) != 0);
    handles_[next_handle_] = HandleInfo{std::move(path), access};
    return next_handle_;
  }
  bool RemoveHandle(HKey key) { return handles_.erase(key) != 0; }
  const HandleInfo* FindHandle(HKey key) const {
    auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : &it->second;
  }

 private:
  int32_t Parsed() {
    if (parse_status_.ok()) return win32::kErrorSuccess;
    return Fail(win32::kErrorBadDb, parse_status_.message());
  }

  // A writer killed between creating its "<file>.tmp.<pid>" and the rename
  // leaves the file behind. Every writer holds the lock while its temporary
  // file exists, so under the lock any other writer's one is stale.
  static void RemoveStaleTemporaries(const std::filesystem::path& file) {
    const std::string prefix = file.filename().string() + ".tmp.";
    std::error_code ec;
    std::filesystem::directory_iterator it(file.parent_path(), ec);
    if (ec) return;
    const std::string mine = prefix + std::to_string(::getpid());
    for (const auto& entry : it) {
      const std::string name = entry.path().filename().string();
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      if (name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) continue;
      if (name == mine) continue;
      std::filesystem::remove(entry.path(), ec);
    }
  }

  int32_t Save() {
    std::string text = regtree::Serialize(tree_);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp.%d", static_cast<int>(::getpid()));
    std::string tmp = file_.string() + suffix;
    mode_t mode = 0644;
    struct stat old;
    if (::stat(file_.c_str(), &old) == 0) mode = old.st_mode & 07777;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
      loaded_ = false;
      return IoError(true, "cannot create " + tmp, errno);
    }
    int err = 0;
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        err = errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
    // Strictly increasing modification times, so a reader never mistakes a
    // new file for one it has seen (inode numbers are reused).
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    int64_t ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    if (stamp_.exists && ns <= stamp_.mtime_ns) ns = stamp_.mtime_ns + 1;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ns / 1000000000;
    times[0].tv_nsec = times[1].tv_nsec = ns % 1000000000;
    struct stat st;
    if (err == 0 && ::futimens(fd, times) != 0) err = errno;
    if (err == 0 && ::fstat(fd, &st) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(tmp.c_str(), file_.c_str()) != 0) err = errno;
    if (err != 0) {
      ::unlink(tmp.c_str());
      loaded_ = false;  // the tree holds an unsaved change: read the file again
      return IoError(true, "cannot write " + file_.string(), err);
    }
    stamp_ = StampOf(st);
    return win32::kErrorSuccess;
  }

  std::filesystem::path file_;
  bool loaded_ = false;
  Stamp stamp_;
  Tree tree_;
  Status parse_status_;
  std::unordered_map<HKey, HandleInfo> handles_;
  HKey next_handle_ = 0x100;
};

// ---- Core operations on UTF-8 names; callers hold Store::mu -----------------

int32_t HandlePath(const Store& store, HKey key, std::vector<std::string>* path, uint32_t* access) {
  if (IsPredefined(key)) {
    *path = PredefinedPath(key);
    *access = kKeyAllAccess;
    return win32::kErrorSuccess;
  }
  const HandleInfo* info = store.FindHandle(key);
  if (info == nullptr) return Fail(win32::kErrorInvalidHandle, "not an open registry key handle");
  *path = info->path;
  *access = info->access;
  return win32::kErrorSuccess;
}

Key* FindKey(const Tree& tree, const std::vector<std::string>& path) {
  const Key* k = &tree.top;
  for (const std::string& p : path) {
    k = k->FindSubkey(p);
    if (k == nullptr) return nullptr;
  }
  return const_cast<Key*>(k);
}

Key* EnsureKey(Tree& tree, const std::vector<std::string>& path, std::string_view class_text,
               bool* created) {
  Key* k = &tree.top;
  bool any = false;
  for (const std::string& p : path) {
    bool made = false;
    k = k->AddSubkey(p, class_text, &made);
    any = made;
  }
  if (created != nullptr) *created = any;
  return k;
}

const Key& EmptyKey() {
  static const Key* empty = new Key;
  return *empty;
}

// The key a handle stands for, for reading. A predefined root that is not in
// the file yet reads as an empty key.
int32_t KeyForRead(Store& store, HKey handle, uint32_t need, const Key** key,
                   std::vector<std::string>* path_out = nullptr) {
  std::vector<std::string> path;
  uint32_t access = 0;
  if (int32_t r = HandlePath(store, handle, &path, &access)) return r;
  if ((access & need) != need)
    return Fail(win32::kErrorAccessDenied, "the key was not opened for this access");
  if (int32_t r = store.Refresh()) return r;
  const Key* k = FindKey(store.tree(), path);
  if (k == nullptr) {
    if (!IsPredefined(handle))
      return Fail(win32::kErrorKeyDeleted, JoinPath(path) + " was deleted");
    k = &EmptyKey();
  }
  *key = k;
  if (path_out != nullptr) *path_out = std::move(path);
  return win32::kErrorSuccess;
}

// Runs `change` on the handle's key under the file lock. A predefined root
// that the file does not hold yet is added when `add_root` is set (its keys
// come with the change), else the change finds nothing.
template <typename F>
int32_t ChangeKey(Store& store, HKey handle, uint32_t need, bool add_root, F change) {
  std::vector<std::string> path;
  uint32_t access = 0;
  if (int32_t r = HandlePath(store, handle, &path, &access)) return r;
  if ((access & need) != need)
    return Fail(win32::kErrorAccessDenied, "the key was not opened for this access");
  bool predefined = IsPredefined(handle);
  return store.Write([&](Tree& tree, bool* changed) -> int32_t {
    Key* k = FindKey(tree, path);
    if (k == nullptr) {
      if (!predefined) return Fail(win32::kErrorKeyDeleted, JoinPath(path) + " was deleted");
      if (!add_root) return Fail(win32::kErrorFileNotFound, "nothing under " + JoinPath(path));
      k = EnsureKey(tree, path, "", nullptr);
    }
    return change(*k, path, changed);
  });
}

bool ValidText(std::string_view s) { return s.find_first_of("\r\n") == std::string_view::npos; }

int32_t CoreCreateKey(HKey parent, std::string_view sub_key, std::string_view class_text,
                      uint32_t options, uint32_t access, HKey* result, uint32_t* disposition) {
  if (result == nullptr) return Fail(win32::kErrorInvalidParameter, "no place for the key handle");
  if (options != kRegOptionNonVolatile) {
    return Fail(win32::kErrorInvalidParameter, "only non-volatile keys are supported");
  }
  if (!ValidText(class_text))
    return Fail(win32::kErrorInvalidParameter, "a class text cannot hold line breaks");
  std::vector<std::string> parts;
  if (int32_t r = regtree::SplitPath(sub_key, &parts)) {
    return Fail(r, "bad key name \"" + std::string(sub_key) + "\"");
  }
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  std::vector<std::string> path;
  uint32_t parent_access = 0;
  if (int32_t r = HandlePath(store, parent, &path, &parent_access)) return r;
  std::vector<std::string> full = path;
  full.insert(full.end(), parts.begin(), parts.end());
  bool predefined = IsPredefined(parent);
  if (int32_t r = store.Refresh()) return r;
  if (FindKey(store.tree(), path) == nullptr && !predefined) {
    return Fail(win32::kErrorKeyDeleted, JoinPath(path) + " was deleted");
  }
  bool created = false;
  if (FindKey(store.tree(), full) == nullptr) {
    if ((parent_access & kKeyCreateSubKey) == 0) {
      return Fail(win32::kErrorAccessDenied, "the parent key was not opened to create subkeys");
    }
    int32_t r = store.Write([&](Tree& tree, bool* changed) -> int32_t {
      if (FindKey(tree, path) == nullptr && !predefined) {
        return Fail(win32::kErrorKeyDeleted, JoinPath(path) + " was deleted");
      }
      EnsureKey(tree, full, class_text, &created);
      *changed = created;
      return win32::kErrorSuccess;
    });
    if (r != win32::kErrorSuccess) return r;
  }
  *result = store.AddHandle(std::move(full), access);
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return win32::kErrorSuccess;
}

int32_t CoreOpenKey(HKey parent, std::string_view sub_key, uint32_t access, HKey* result) {
  if (result == nullptr) return Fail(win32::kErrorInvalidParameter, "no place for the key handle");
  std::vector<std::string> parts;
  if (int32_t r = regtree::SplitPath(sub_key, &parts)) {
    return Fail(r, "bad key name \"" + std::string(sub_key) + "\"");
  }
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  std::vector<std::string> path;
  uint32_t parent_access = 0;
  if (int32_t r = HandlePath(store, parent, &path, &parent_access)) return r;
  if (int32_t r = store.Refresh()) return r;
  std::vector<std::string> full = path;
  full.insert(full.end(), parts.begin(), parts.end());
  if (FindKey(store.tree(), full) == nullptr) {
    if (FindKey(store.tree(), path) == nullptr && !IsPredefined(parent)) {
      return Fail(win32::kErrorKeyDeleted, JoinPath(path) + " was deleted");
    }
    // A predefined root that the file does not mention yet still opens.
    if (!(parts.empty() && IsPredefined(parent))) {
      return Fail(win32::kErrorFileNotFound, "no key " + JoinPath(full));
    }
  }
  *result = store.AddHandle(std::move(full), access);
  return win32::kErrorSuccess;
}

int32_t CoreCloseKey(HKey key) {
  if (IsPredefined(key)) return win32::kErrorSuccess;
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  if (!store.RemoveHandle(key))
    return Fail(win32::kErrorInvalidHandle, "not an open registry key handle");
  return win32::kErrorSuccess;
}

int32_t CoreQueryValue(HKey key, std::string_view name, RegValue* out) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  const Key* k = nullptr;
  std::vector<std::string> path;
  if (int32_t r = KeyForRead(store, key, kKeyQueryValue, &k, &path)) return r;
  for (const RegValue& v : k->values) {
    if (EqualsNoCase(v.name, name)) {
      *out = v;
      return win32::kErrorSuccess;
    }
  }
  return Fail(win32::kErrorFileNotFound,
              JoinPath(path) + " has no value \"" + std::string(name) + "\"");
}

int32_t CoreSetValue(HKey key, std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  if (!ValidText(name) || Utf8ToUtf16(name).size() > kMaxValueNameLength) {
    return Fail(win32::kErrorInvalidParameter, "bad value name");
  }
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  return ChangeKey(store, key, kKeySetValue, true,
                   [&](Key& k, const std::vector<std::string>&, bool* changed) -> int32_t {
                     if (RegValue* v = k.FindValue(name)) {
                       *changed = v->type != type || v->data != data;
                       v->type = type;
                       v->data = std::move(data);
                     } else {
                       k.values.push_back(RegValue{std::string(name), type, std::move(data)});
                       *changed = true;
                     }
                     return win32::kErrorSuccess;
                   });
}

int32_t CoreDeleteValue(HKey key, std::string_view name) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  return ChangeKey(store, key, kKeySetValue, false,
                   [&](Key& k, const std::vector<std::string>& path, bool* changed) -> int32_t {
                     if (!k.RemoveValue(name)) {
                       return Fail(win32::kErrorFileNotFound,
                                   JoinPath(path) + " has no value \"" + std::string(name) + "\"");
                     }
                     *changed = true;
                     return win32::kErrorSuccess;
                   });
}

int32_t CoreDeleteKey(HKey key, std::string_view sub_key, bool tree) {
  std::vector<std::string> parts;
  if (int32_t r = regtree::SplitPath(sub_key, &parts)) {
    return Fail(r, "bad key name \"" + std::string(sub_key) + "\"");
  }
  if (parts.empty() && !tree && IsPredefined(key)) {
    return Fail(win32::kErrorAccessDenied, "a root key cannot be deleted");
  }
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  return ChangeKey(store, key, 0, false,
                   [&](Key& k, const std::vector<std::string>& path, bool* changed) -> int32_t {
                     std::vector<std::string> full = path;
                     full.insert(full.end(), parts.begin(), parts.end());
                     if (parts.empty() && tree) {  // empty the key, keep it
                       *changed = !k.subkeys.empty() || !k.values.empty();
                       k.subkeys.clear();
                       k.values.clear();
                       return win32::kErrorSuccess;
                     }
                     Tree& t = store.mutable_tree();
                     Key* target = FindKey(t, full);
                     if (target == nullptr)
                       return Fail(win32::kErrorFileNotFound, "no key " + JoinPath(full));
                     if (!tree && !target->subkeys.empty()) {
                       return Fail(win32::kErrorAccessDenied,
                                   JoinPath(full) + " has subkeys and cannot be deleted");
                     }
                     std::vector<std::string> parent_path(full.begin(), full.end() - 1);
                     if (parent_path.empty())
                       return Fail(win32::kErrorAccessDenied, "a root key cannot be deleted");
                     FindKey(t, parent_path)->RemoveSubkey(full.back());
                     *changed = true;
                     return win32::kErrorSuccess;
                   });
}

struct KeyListing {
  std::string class_text;
  std::vector<std::string> subkeys;
  std::vector<std::string> subkey_classes;
  std::vector<RegValue> values;
};

int32_t CoreListKey(HKey key, uint32_t need, KeyListing* out) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  const Key* k = nullptr;
  if (int32_t r = KeyForRead(store, key, need, &k)) return r;
  out->class_text = k->class_text;
  for (const auto& sub : k->subkeys) {
    out->subkeys.push_back(sub->name);
    out->subkey_classes.push_back(sub->class_text);
  }
  out->values = k->values;
  return win32::kErrorSuccess;
}

int32_t CoreEnumKey(HKey key, uint32_t index, std::string* name, std::string* class_text) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  const Key* k = nullptr;
  if (int32_t r = KeyForRead(store, key, kKeyEnumerateSubKeys, &k)) return r;
  if (index >= k->subkeys.size()) return Fail(win32::kErrorNoMoreItems, "no more subkeys");
  *name = k->subkeys[index]->name;
  *class_text = k->subkeys[index]->class_text;
  return win32::kErrorSuccess;
}

int32_t CoreEnumValue(HKey key, uint32_t index, RegValue* out) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  const Key* k = nullptr;
  if (int32_t r = KeyForRead(store, key, kKeyQueryValue, &k)) return r;
  if (index >= k->values.size()) return Fail(win32::kErrorNoMoreItems, "no more values");
  *out = k->values[index];
  return win32::kErrorSuccess;
}

// ---- A and W edges -------------------------------------------------------

std::string FromA(const char* s) { return s == nullptr ? std::string() : Cp1252ToUtf8(s); }
std::string FromW(const char16_t* s) {
  return s == nullptr ? std::string() : Utf16ToUtf8(std::u16string_view(s, Utf16Length(s)));
}

std::u16string UnitsOf(const std::vector<uint8_t>& data) {
  std::u16string u;
  u.reserve(data.size() / 2);
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    u.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return u;
}

std::vector<uint8_t> BytesOf(std::u16string_view u) {
  std::vector<uint8_t> out;
  out.reserve(u.size() * 2);
  for (char16_t c : u) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

// Stored data as an A-form caller sees it.
std::vector<uint8_t> DataForA(const RegValue& v) {
  if (!IsStringType(v.type)) return v.data;
  std::string text = Utf16ToCp1252(UnitsOf(v.data));
  return std::vector<uint8_t>(text.begin(), text.end());
}

// String data always ends in a terminator, so no reader runs off its end.
void Terminate(std::u16string* u) {
  if (u->empty() || u->back() != 0) u->push_back(0);
}

int32_t CopyData(uint32_t value_type, const std::vector<uint8_t>& bytes, uint32_t* type,
                 uint8_t* data, uint32_t* data_size) {
  if (type != nullptr) *type = value_type;
  if (data_size == nullptr) return win32::kErrorSuccess;
  uint32_t needed = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) {
    *data_size = needed;
    return win32::kErrorSuccess;
  }
  if (*data_size < needed) {
    *data_size = needed;
    return Fail(win32::kErrorMoreData, "the buffer is too small");
  }
  if (needed != 0) std::memcpy(data, bytes.data(), needed);
  *data_size = needed;
  return win32::kErrorSuccess;
}

template <typename Char>
int32_t CopyName(const std::basic_string<Char>& text, Char* out, uint32_t* size) {
  if (out == nullptr || size == nullptr)
    return Fail(win32::kErrorInvalidParameter, "no name buffer");
  if (text.size() + 1 > *size) return Fail(win32::kErrorMoreData, "the name buffer is too small");
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  *size = static_cast<uint32_t>(text.size());
  return win32::kErrorSuccess;
}

template <typename Char>
std::basic_string<Char> Outward(const std::string& utf8);
template <>
std::string Outward<char>(const std::string& utf8) {
  return Utf8ToCp1252(utf8);
}
template <>
std::u16string Outward<char16_t>(const std::string& utf8) {
  return Utf8ToUtf16(utf8);
}

template <typename Char>
int32_t EnumKeyImpl(HKey key, uint32_t index, Char* name, uint32_t* name_size, Char* class_text,
                    uint32_t* class_size, uint64_t* last_write_time) {
  if (name == nullptr || name_size == nullptr)
    return Fail(win32::kErrorInvalidParameter, "no name buffer");
  std::string n, c;
  if (int32_t r = CoreEnumKey(key, index, &n, &c)) return r;
  if (int32_t r = CopyName(Outward<Char>(n), name, name_size)) return r;
  if (class_text != nullptr && class_size != nullptr) {
    if (int32_t r = CopyName(Outward<Char>(c), class_text, class_size)) return r;
  } else if (class_size != nullptr) {
    *class_size = static_cast<uint32_t>(Outward<Char>(c).size());
  }
  if (last_write_time != nullptr) *last_write_time = 0;
  return win32::kErrorSuccess;
}

}  // namespace

// ---- Win32-shaped calls ----------------------------------------------------

int32_t RegCreateKeyExA(HKey key, const char* sub_key, uint32_t, const char* class_text,
                        uint32_t options, uint32_t access, const void*, HKey* result,
                        uint32_t* disposition) {
  return CoreCreateKey(key, FromA(sub_key), FromA(class_text), options, access, result,
                       disposition);
}

int32_t RegCreateKeyExW(HKey key, const char16_t* sub_key, uint32_t, const char16_t* class_text,
                        uint32_t options, uint32_t access, const void*, HKey* result,
                        uint32_t* disposition) {
  return CoreCreateKey(key, FromW(sub_key), FromW(class_text), options, access, result,
                       disposition);
}

int32_t RegOpenKeyExA(HKey key, const char* sub_key, uint32_t, uint32_t access, HKey* result) {
  return CoreOpenKey(key, FromA(sub_key), access, result);
}

int32_t RegOpenKeyExW(HKey key, const char16_t* sub_key, uint32_t, uint32_t access, HKey* result) {
  return CoreOpenKey(key, FromW(sub_key), access, result);
}

int32_t RegCloseKey(HKey key) { return CoreCloseKey(key); }

int32_t RegFlushKey(HKey key) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  std::vector<std::string> path;
  uint32_t access = 0;
  return HandlePath(store, key, &path, &access);
}

int32_t RegQueryValueExA(HKey key, const char* value_name, uint32_t*, uint32_t* type, uint8_t* data,
                         uint32_t* data_size) {
  if (data != nullptr && data_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "a data buffer needs its size");
  }
  RegValue v;
  if (int32_t r = CoreQueryValue(key, FromA(value_name), &v)) return r;
  return CopyData(v.type, DataForA(v), type, data, data_size);
}

int32_t RegQueryValueExW(HKey key, const char16_t* value_name, uint32_t*, uint32_t* type,
                         uint8_t* data, uint32_t* data_size) {
  if (data != nullptr && data_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "a data buffer needs its size");
  }
  RegValue v;
  if (int32_t r = CoreQueryValue(key, FromW(value_name), &v)) return r;
  return CopyData(v.type, v.data, type, data, data_size);
}

int32_t RegSetValueExA(HKey key, const char* value_name, uint32_t, uint32_t type,
                       const uint8_t* data, uint32_t data_size) {
  if (data == nullptr && data_size != 0) return Fail(win32::kErrorInvalidParameter, "no data");
  std::vector<uint8_t> bytes;
  if (IsStringType(type)) {
    std::u16string u =
        Cp1252ToUtf16(std::string_view(reinterpret_cast<const char*>(data), data_size));
    Terminate(&u);
    bytes = BytesOf(u);
  } else if (data_size != 0) {
    bytes.assign(data, data + data_size);
  }
  return CoreSetValue(key, FromA(value_name), type, std::move(bytes));
}

int32_t RegSetValueExW(HKey key, const char16_t* value_name, uint32_t, uint32_t type,
                       const uint8_t* data, uint32_t data_size) {
  if (data == nullptr && data_size != 0) return Fail(win32::kErrorInvalidParameter, "no data");
  std::vector<uint8_t> bytes;
  if (data_size != 0) bytes.assign(data, data + data_size);
  if (IsStringType(type) && bytes.size() % 2 == 0) {
    std::u16string u = UnitsOf(bytes);
    Terminate(&u);
    bytes = BytesOf(u);
  }
  return CoreSetValue(key, FromW(value_name), type, std::move(bytes));
}

int32_t RegEnumKeyExA(HKey key, uint32_t index, char* name, uint32_t* name_size, uint32_t*,
                      char* class_text, uint32_t* class_size, uint64_t* last_write_time) {
  return EnumKeyImpl<char>(key, index, name, name_size, class_text, class_size, last_write_time);
}

int32_t RegEnumKeyExW(HKey key, uint32_t index, char16_t* name, uint32_t* name_size, uint32_t*,
                      char16_t* class_text, uint32_t* class_size, uint64_t* last_write_time) {
  return EnumKeyImpl<char16_t>(key, index, name, name_size, class_text, class_size,
                               last_write_time);
}

int32_t RegEnumValueA(HKey key, uint32_t index, char* value_name, uint32_t* value_name_size,
                      uint32_t*, uint32_t* type, uint8_t* data, uint32_t* data_size) {
  if (value_name == nullptr || value_name_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "no name buffer");
  }
  if (data != nullptr && data_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "a data buffer needs its size");
  }
  RegValue v;
  if (int32_t r = CoreEnumValue(key, index, &v)) return r;
  if (int32_t r = CopyName(Utf8ToCp1252(v.name), value_name, value_name_size)) return r;
  return CopyData(v.type, DataForA(v), type, data, data_size);
}

int32_t RegEnumValueW(HKey key, uint32_t index, char16_t* value_name, uint32_t* value_name_size,
                      uint32_t*, uint32_t* type, uint8_t* data, uint32_t* data_size) {
  if (value_name == nullptr || value_name_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "no name buffer");
  }
  if (data != nullptr && data_size == nullptr) {
    return Fail(win32::kErrorInvalidParameter, "a data buffer needs its size");
  }
  RegValue v;
  if (int32_t r = CoreEnumValue(key, index, &v)) return r;
  if (int32_t r = CopyName(Utf8ToUtf16(v.name), value_name, value_name_size)) return r;
  return CopyData(v.type, v.data, type, data, data_size);
}

int32_t RegQueryInfoKeyA(HKey key, char* class_text, uint32_t* class_size, uint32_t*,
                         uint32_t* sub_keys, uint32_t* max_sub_key_len, uint32_t* max_class_len,
                         uint32_t* values, uint32_t* max_value_name_len, uint32_t* max_value_len,
                         uint32_t* security_descriptor_size, uint64_t* last_write_time) {
  KeyListing l;
  if (int32_t r = CoreListKey(key, kKeyQueryValue, &l)) return r;
  if (class_text != nullptr) {
    if (int32_t r = CopyName(Utf8ToCp1252(l.class_text), class_text, class_size)) return r;
  } else if (class_size != nullptr) {
    *class_size = static_cast<uint32_t>(Utf8ToCp1252(l.class_text).size());
  }
  uint32_t max_sub = 0, max_cls = 0, max_name = 0, max_data = 0;
  for (size_t i = 0; i < l.subkeys.size(); ++i) {
    max_sub = std::max<uint32_t>(max_sub, static_cast<uint32_t>(Utf8ToUtf16(l.subkeys[i]).size()));
    max_cls =
        std::max<uint32_t>(max_cls, static_cast<uint32_t>(Utf8ToUtf16(l.subkey_classes[i]).size()));
  }
  for (const RegValue& v : l.values) {
    max_name = std::max<uint32_t>(max_name, static_cast<uint32_t>(Utf8ToUtf16(v.name).size()));
    max_data = std::max<uint32_t>(max_data, static_cast<uint32_t>(v.data.size()));
  }
  if (sub_keys != nullptr) *sub_keys = static_cast<uint32_t>(l.subkeys.size());
  if (max_sub_key_len != nullptr) *max_sub_key_len = max_sub;
  if (max_class_len != nullptr) *max_class_len = max_cls;
  if (values != nullptr) *values = static_cast<uint32_t>(l.values.size());
  if (max_value_name_len != nullptr) *max_value_name_len = max_name;
  if (max_value_len != nullptr) *max_value_len = max_data;
  if (security_descriptor_size != nullptr) *security_descriptor_size = 0;
  if (last_write_time != nullptr) *last_write_time = 0;
  return win32::kErrorSuccess;
}

int32_t RegDeleteValueA(HKey key, const char* value_name) {
  return CoreDeleteValue(key, FromA(value_name));
}
int32_t RegDeleteValueW(HKey key, const char16_t* value_name) {
  return CoreDeleteValue(key, FromW(value_name));
}
int32_t RegDeleteKeyA(HKey key, const char* sub_key) {
  return CoreDeleteKey(key, FromA(sub_key), false);
}
int32_t RegDeleteKeyW(HKey key, const char16_t* sub_key) {
  return CoreDeleteKey(key, FromW(sub_key), false);
}
int32_t RegDeleteTreeA(HKey key, const char* sub_key) {
  return CoreDeleteKey(key, FromA(sub_key), true);
}
int32_t RegDeleteTreeW(HKey key, const char16_t* sub_key) {
  return CoreDeleteKey(key, FromW(sub_key), true);
}

// ---- Typed API --------------------------------------------------------------

namespace {

Status ToStatus(int32_t err) {
  switch (err) {
    case win32::kErrorSuccess:
      return Status::Ok();
    case win32::kErrorFileNotFound:
      return Status(Code::kNotFound, "registry: " + t_detail);
    case win32::kErrorKeyDeleted:
      return Status(Code::kClosed, "registry: " + t_detail);
    case win32::kErrorBadDb:
      return Status(Code::kBadData, "registry file is malformed: " + t_detail);
    case win32::kErrorAccessDenied:
      return Status(Code::kOsError, "registry: access denied: " + t_detail,
                    t_errno != 0 ? t_errno : EACCES);
    case win32::kErrorCantRead:
    case win32::kErrorCantWrite:
      return Status(Code::kOsError, "registry: " + t_detail, t_errno);
    default:
      return Status(Code::kInvalidArgument, "registry: " + t_detail);
  }
}

std::string KeyText(HKey key) {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  std::vector<std::string> path;
  uint32_t access = 0;
  if (HandlePath(store, key, &path, &access) != win32::kErrorSuccess) return "(closed key)";
  return JoinPath(path);
}

Status WrongType(HKey key, std::string_view name, const char* want) {
  return Status(Code::kInvalidArgument, "registry: " + KeyText(key) + " value \"" +
                                            std::string(name) + "\" is not " + want);
}

}  // namespace

RegistryKey::~RegistryKey() {
  if (handle_ != 0) CoreCloseKey(handle_);
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    if (handle_ != 0) CoreCloseKey(handle_);
    handle_ = std::exchange(other.handle_, 0);
  }
  return *this;
}

Result<RegistryKey> RegistryKey::Open(HKey parent, std::string_view path, uint32_t access) {
  HKey h = 0;
  if (int32_t r = CoreOpenKey(parent, path, access, &h)) return ToStatus(r);
  return RegistryKey(h);
}

Result<RegistryKey> RegistryKey::Create(HKey parent, std::string_view path,
                                        std::string_view class_text, bool* created,
                                        uint32_t access) {
  HKey h = 0;
  uint32_t disposition = 0;
  if (int32_t r = CoreCreateKey(parent, path, class_text, kRegOptionNonVolatile, access, &h,
                                &disposition)) {
    return ToStatus(r);
  }
  if (created != nullptr) *created = disposition == kRegCreatedNewKey;
  return RegistryKey(h);
}

bool RegistryKey::Exists(HKey parent, std::string_view path) {
  HKey h = 0;
  if (CoreOpenKey(parent, path, kKeyQueryValue, &h) != win32::kErrorSuccess) return false;
  CoreCloseKey(h);
  return true;
}

Result<RegValue> RegistryKey::GetValue(std::string_view name) const {
  RegValue v;
  if (int32_t r = CoreQueryValue(handle_, name, &v)) return ToStatus(r);
  return v;
}

Result<uint32_t> RegistryKey::GetDword(std::string_view name) const {
  Result<RegValue> v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegDword || v->data.size() != 4) return WrongType(handle_, name, "a REG_DWORD");
  const std::vector<uint8_t>& d = v->data;
  return static_cast<uint32_t>(d[0] | (d[1] << 8) | (d[2] << 16) |
                               (static_cast<uint32_t>(d[3]) << 24));
}

Result<std::string> RegistryKey::GetString(std::string_view name) const {
  Result<RegValue> v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegSz && v->type != kRegExpandSz) return WrongType(handle_, name, "a text");
  return regtree::RegSzToUtf8(v->data);
}

Result<std::vector<std::string>> RegistryKey::GetMultiString(std::string_view name) const {
  Result<RegValue> v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegMultiSz) return WrongType(handle_, name, "a REG_MULTI_SZ");
  return regtree::RegMultiSzToUtf8(v->data);
}

Status RegistryKey::SetValue(std::string_view name, uint32_t type,
                             const std::vector<uint8_t>& data) {
  return ToStatus(CoreSetValue(handle_, name, type, data));
}

Status RegistryKey::SetDword(std::string_view name, uint32_t value) {
  return SetValue(name, kRegDword,
                  {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                   static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

Status RegistryKey::SetString(std::string_view name, std::string_view text) {
  return SetValue(name, kRegSz, regtree::Utf8ToRegSz(text));
}

Status RegistryKey::SetExpandString(std::string_view name, std::string_view text) {
  return SetValue(name, kRegExpandSz, regtree::Utf8ToRegSz(text));
}

Status RegistryKey::SetMultiString(std::string_view name, const std::vector<std::string>& texts) {
  for (const std::string& t : texts) {
    if (t.empty()) {
      return Status(Code::kInvalidArgument,
                    "registry: an empty text cannot be part of a REG_MULTI_SZ value");
    }
  }
  return SetValue(name, kRegMultiSz, regtree::Utf8ToRegMultiSz(texts));
}

Status RegistryKey::SetBinary(std::string_view name, const std::vector<uint8_t>& bytes) {
  return SetValue(name, kRegBinary, bytes);
}

Status RegistryKey::DeleteValue(std::string_view name) {
  return ToStatus(CoreDeleteValue(handle_, name));
}

Result<std::vector<std::string>> RegistryKey::SubkeyNames() const {
  KeyListing l;
  if (int32_t r = CoreListKey(handle_, kKeyEnumerateSubKeys, &l)) return ToStatus(r);
  return std::move(l.subkeys);
}

Result<std::vector<RegValue>> RegistryKey::Values() const {
  KeyListing l;
  if (int32_t r = CoreListKey(handle_, kKeyQueryValue, &l)) return ToStatus(r);
  return std::move(l.values);
}

Result<std::string> RegistryKey::ClassText() const {
  KeyListing l;
  if (int32_t r = CoreListKey(handle_, kKeyQueryValue, &l)) return ToStatus(r);
  return std::move(l.class_text);
}

Status RegistryKey::DeleteSubkey(std::string_view path) {
  return ToStatus(CoreDeleteKey(handle_, path, false));
}

Status RegistryKey::DeleteTree(std::string_view path) {
  return ToStatus(CoreDeleteKey(handle_, path, true));
}

int32_t WinErrorOf(const Status& status) {
  switch (status.code()) {
    case Code::kOk:
      return win32::kErrorSuccess;
    case Code::kNotFound:
      return win32::kErrorFileNotFound;
    case Code::kClosed:
      return win32::kErrorKeyDeleted;
    case Code::kBadData:
      return win32::kErrorBadDb;
    case Code::kOsError: {
      int e = status.os_error();
      if (e == EACCES || e == EPERM || e == EROFS) return win32::kErrorAccessDenied;
      return win32::kErrorCantWrite;
    }
    default:
      return win32::kErrorInvalidParameter;
  }
}

Status CheckRegistryFile() {
  Store& store = Store::Get();
  std::lock_guard<std::mutex> lock(store.mu);
  return ToStatus(store.Refresh());
}

}  // namespace zimo::platform
