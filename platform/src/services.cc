#include "platform/services.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/home.h"
#include "platform/win_path.h"

extern char** environ;

namespace zimo::platform {
namespace {

constexpr int kKillWaitMs = 2000;
std::atomic<int> g_stop_wait_ms{kServiceStopWaitMs};
constexpr int kPollMs = 5;

struct Entry {
  enum Kind { kManager, kService, kLock } kind = kManager;
  std::string name;  // service name (UTF-8) for kService
  int lock_fd = -1;  // for kLock
};

class HandleTable {
 public:
  static HandleTable& Get() {
    static HandleTable* table = new HandleTable;
    return *table;
  }
  ScHandle Add(Entry e) {
    std::lock_guard<std::mutex> lock(mu_);
    do {
      next_ += 4;
      if (next_ >= 0x7FFFFFF0u) next_ = 0x1000;
    } while (entries_.count(next_) != 0);
    entries_[next_] = std::move(e);
    return next_;
  }
  std::optional<Entry> Find(ScHandle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = entries_.find(h);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }
  std::optional<Entry> Remove(ScHandle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = entries_.find(h);
    if (it == entries_.end()) return std::nullopt;
    Entry e = std::move(it->second);
    entries_.erase(it);
    return e;
  }

 private:
  std::mutex mu_;
  std::unordered_map<ScHandle, Entry> entries_;
  ScHandle next_ = 0x1000;
};

std::string KeyPathOf(const std::string& name) {
  return std::string(kServicesKeyPath) + "\\" + name;
}

int32_t ServiceName(ScHandle service, std::string* name) {
  std::optional<Entry> e = HandleTable::Get().Find(service);
  if (!e || e->kind != Entry::kService) return win32::kErrorInvalidHandle;
  *name = e->name;
  return win32::kErrorSuccess;
}

int32_t OpenRecord(const std::string& name, RegistryKey* key) {
  Result<RegistryKey> k = RegistryKey::Open(kHkeyLocalMachine, KeyPathOf(name));
  if (!k.ok()) {
    int32_t err = WinErrorOf(k.status());
    return err == win32::kErrorFileNotFound ? win32::kErrorServiceDoesNotExist : err;
  }
  *key = std::move(*k);
  return win32::kErrorSuccess;
}

uint32_t DwordOr(const RegistryKey& key, const char* name, uint32_t fallback) {
  Result<uint32_t> v = key.GetDword(name);
  return v.ok() ? *v : fallback;
}

std::string StringOr(const RegistryKey& key, const char* name) {
  Result<std::string> v = key.GetString(name);
  return v.ok() ? *v : std::string();
}

// ---- Run-time records --------------------------------------------------------

std::filesystem::path RunFile(const std::string& name, const char* ext) {
  std::string upper = ToUpperUtf8(name);
  return RunDir() / ("service-" + upper + ext);
}

// Start time of a process in clock ticks since boot (field 22 of its stat
// line), and whether it is a zombie.
std::optional<uint64_t> ProcessStartTime(pid_t pid, bool* zombie) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  size_t close = line.rfind(')');  // the command name may hold spaces and parentheses
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 2));
  std::string state;
  fields >> state;
  *zombie = state == "Z" || state == "X";
  std::string skip;
  for (int i = 4; i < 22; ++i) fields >> skip;  // fields 4..21
  uint64_t start = 0;
  if (!(fields >> start)) return std::nullopt;
  return start;
}

struct RunRecord {
  pid_t pid = 0;
  uint64_t start_time = 0;
};

std::optional<RunRecord> ReadRecord(const std::string& name) {
  std::ifstream in(RunFile(name, ".pid"));
  RunRecord r;
  long pid = 0;
  if (!(in >> pid >> r.start_time) || pid <= 0) return std::nullopt;
  r.pid = static_cast<pid_t>(pid);
  return r;
}

bool WriteRecord(const std::string& name, const RunRecord& r) {
  std::filesystem::path file = RunFile(name, ".pid");
  std::filesystem::path tmp = file;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << r.pid << ' ' << r.start_time << '\n';
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), file.c_str()) == 0;
}

// Whether the recorded process still runs. A zombie counts as ended; when it
// is our own child it is reaped here.
bool Alive(const RunRecord& r) {
  bool zombie = false;
  std::optional<uint64_t> start = ProcessStartTime(r.pid, &zombie);
  if (!start || *start != r.start_time) return false;
  if (zombie) {
    ::waitpid(r.pid, nullptr, WNOHANG);
    return false;
  }
  return true;
}

// The live process of the service, if any; a stale record is removed.
std::optional<RunRecord> Running(const std::string& name) {
  std::optional<RunRecord> r = ReadRecord(name);
  if (!r) return std::nullopt;
  if (Alive(*r)) return r;
  std::remove(RunFile(name, ".pid").c_str());
  return std::nullopt;
}

// Serialises start and stop of one service across processes.
class ServiceLock {
 public:
  explicit ServiceLock(const std::string& name) {
    fd_ = ::open(RunFile(name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~ServiceLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ServiceLock(const ServiceLock&) = delete;
  ServiceLock& operator=(const ServiceLock&) = delete;

 private:
  int fd_ = -1;
};

// Removes the record of a service marked for deletion once it has stopped.
void FinishDelete(const std::string& name) {
  RegistryKey key;
  if (OpenRecord(name, &key) != win32::kErrorSuccess) return;
  if (DwordOr(key, "DeleteFlag", 0) == 0) return;
  Result<RegistryKey> services = RegistryKey::Open(kHkeyLocalMachine, kServicesKeyPath);
  if (services.ok()) (void)services->DeleteTree(name);
}

// Services this process started are its children until they end; whichever
// process stops them, their zombies are reaped here on the next call.
class Children {
 public:
  static Children& Get() {
    static Children* children = new Children;
    return *children;
  }
  void Add(pid_t pid) {
    std::lock_guard<std::mutex> lock(mu_);
    pids_.push_back(pid);
  }
  void Reap() {
    std::lock_guard<std::mutex> lock(mu_);
    for (size_t i = 0; i < pids_.size();) {
      pid_t r = ::waitpid(pids_[i], nullptr, WNOHANG);
      if (r == pids_[i] || (r < 0 && errno == ECHILD)) {
        pids_[i] = pids_.back();
        pids_.pop_back();
      } else {
        ++i;
      }
    }
  }

 private:
  std::mutex mu_;
  std::vector<pid_t> pids_;
};

// ---- Command lines -----------------------------------------------------------

bool IsRegular(const std::filesystem::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Splits arguments the way Windows programs do: blanks separate, quotes
// group, 2n backslashes before a quote give n and the quote groups, 2n+1
// give n and a literal quote; other backslashes are literal.
std::vector<std::string> SplitArguments(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < s.size() && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '\\') {
        size_t n = 0;
        while (i < s.size() && s[i] == '\\') ++n, ++i;
        if (i < s.size() && s[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (s[i] == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(s[i++]);
    }
    out.push_back(std::move(arg));
  }
  return out;
}

bool HasFolder(std::string_view p) {
  return p.find_first_of("\\/") != std::string_view::npos || (p.size() >= 2 && p[1] == ':');
}

std::optional<std::filesystem::path> FindOnPath(const std::string& name) {
  const char* env = std::getenv("PATH");
  std::string_view rest = env != nullptr ? env : "/usr/bin:/bin";
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    if (!dir.empty()) {
      std::filesystem::path p = std::filesystem::path(std::string(dir)) / name;
      if (IsRegular(p)) return p;
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

// The program and arguments of an ImagePath.
int32_t ParseImagePath(std::string_view image, std::filesystem::path* program,
                       std::vector<std::string>* args) {
  while (!image.empty() && (image.front() == ' ' || image.front() == '\t')) image.remove_prefix(1);
  if (image.empty()) return win32::kErrorFileNotFound;
  std::string program_text;
  std::string_view rest;
  if (image.front() == '"') {
    size_t close = image.find('"', 1);
    program_text =
        std::string(image.substr(1, close == std::string_view::npos ? close : close - 1));
    rest = close == std::string_view::npos ? std::string_view() : image.substr(close + 1);
  } else {
    // The longest run of leading words that names a file, so unquoted paths
    // with blanks still work; else the first word.
    size_t best = std::string_view::npos;
    for (size_t end = image.find(' ');; end = image.find(' ', end + 1)) {
      std::string_view candidate = image.substr(0, end);
      if (HasFolder(candidate) && IsRegular(ToHostPath(candidate))) best = candidate.size();
      if (end == std::string_view::npos) break;
    }
    if (best == std::string_view::npos) {
      size_t blank = image.find_first_of(" \t");
      best = blank == std::string_view::npos ? image.size() : blank;
    }
    program_text = std::string(image.substr(0, best));
    rest = image.substr(best);
  }
  if (HasFolder(program_text)) {
    *program = ToHostPath(program_text);
  } else if (std::optional<std::filesystem::path> found = FindOnPath(program_text)) {
    *program = *found;
  } else {
    return win32::kErrorFileNotFound;
  }
  if (!IsRegular(*program)) return win32::kErrorFileNotFound;
  if (::access(program->c_str(), X_OK) != 0) return win32::kErrorBadExeFormat;
  *args = SplitArguments(rest);
  return win32::kErrorSuccess;
}

int32_t Spawn(const std::string& name, const std::filesystem::path& program,
              const std::vector<std::string>& args, pid_t* pid) {
  std::vector<std::string> argv_text;
  argv_text.push_back(program.string());
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string log = RunFile(name, ".log").string();
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // Only the standard descriptors go to the service.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  // Its own session: detached from our terminal and process group, and one
  // group to stop.
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int rc = ::posix_spawn(pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  switch (rc) {
    case 0:
      return win32::kErrorSuccess;
    case ENOENT:
      return win32::kErrorFileNotFound;
    case ENOMEM:
    case EAGAIN:
      return win32::kErrorNotEnoughMemory;
    default:
      return win32::kErrorBadExeFormat;
  }
}

void SleepMs(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&ts, nullptr);
}

bool WaitGone(const RunRecord& r, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += kPollMs) {
    if (!Alive(r)) return true;
    SleepMs(kPollMs);
  }
  return !Alive(r);
}

void Signal(pid_t pid, int sig) {
  if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

}  // namespace

void SetServiceStopWaitMs(int ms) { g_stop_wait_ms.store(ms < 0 ? 0 : ms); }

int32_t OpenSCManagerA(const char* machine_name, const char* database_name, uint32_t,
                       ScHandle* manager) {
  if (manager == nullptr) return win32::kErrorInvalidParameter;
  if (machine_name != nullptr && *machine_name != '\0') return win32::kErrorInvalidParameter;
  if (database_name != nullptr && CompareNoCase1252(database_name, "ServicesActive") != 0) {
    return win32::kErrorInvalidParameter;
  }
  *manager = HandleTable::Get().Add(Entry{Entry::kManager, {}, -1});
  return win32::kErrorSuccess;
}

int32_t CreateServiceA(ScHandle manager, const char* service_name, const char* display_name,
                       uint32_t, uint32_t service_type, uint32_t start_type, uint32_t error_control,
                       const char* binary_path_name, const char* load_order_group, uint32_t*,
                       const char* dependencies, const char* service_start_name, const char*,
                       ScHandle* service) {
  std::optional<Entry> m = HandleTable::Get().Find(manager);
  if (!m || m->kind != Entry::kManager) return win32::kErrorInvalidHandle;
  if (service == nullptr) return win32::kErrorInvalidParameter;
  if (service_name == nullptr || *service_name == '\0' ||
      std::string_view(service_name).size() > 256 ||
      std::string_view(service_name).find_first_of("\\/") != std::string_view::npos) {
    return win32::kErrorInvalidName;
  }
  if (binary_path_name == nullptr || *binary_path_name == '\0')
    return win32::kErrorInvalidParameter;
  std::string name = Cp1252ToUtf8(service_name);

  bool created = false;
  Result<RegistryKey> key = RegistryKey::Create(kHkeyLocalMachine, KeyPathOf(name), "", &created);
  if (!key.ok()) return WinErrorOf(key.status());
  if (!created) {
    return DwordOr(*key, "DeleteFlag", 0) != 0 ? win32::kErrorServiceMarkedForDelete
                                               : win32::kErrorServiceExists;
  }
  Status s = key->SetDword("Type", service_type);
  if (s.ok()) s = key->SetDword("Start", start_type);
  if (s.ok()) s = key->SetDword("ErrorControl", error_control);
  if (s.ok()) s = key->SetExpandString("ImagePath", Cp1252ToUtf8(binary_path_name));
  if (s.ok() && display_name != nullptr && *display_name != '\0') {
    s = key->SetString("DisplayName", Cp1252ToUtf8(display_name));
  }
  if (s.ok() && load_order_group != nullptr && *load_order_group != '\0') {
    s = key->SetString("Group", Cp1252ToUtf8(load_order_group));
  }
  if (s.ok() && dependencies != nullptr && *dependencies != '\0') {
    std::vector<std::string> list;
    for (const char* p = dependencies; *p != '\0'; p += std::strlen(p) + 1) {
      list.push_back(Cp1252ToUtf8(p));
    }
    s = key->SetMultiString("DependOnService", list);
  }
  if (s.ok() && service_start_name != nullptr && *service_start_name != '\0') {
    s = key->SetString("ObjectName", Cp1252ToUtf8(service_start_name));
  }
  if (!s.ok()) {
    // Leave no half-made record behind.
    Result<RegistryKey> services = RegistryKey::Open(kHkeyLocalMachine, kServicesKeyPath);
    if (services.ok()) (void)services->DeleteTree(name);
    return WinErrorOf(s);
  }
  *service = HandleTable::Get().Add(Entry{Entry::kService, name, -1});
  return win32::kErrorSuccess;
}

int32_t OpenServiceA(ScHandle manager, const char* service_name, uint32_t, ScHandle* service) {
  std::optional<Entry> m = HandleTable::Get().Find(manager);
  if (!m || m->kind != Entry::kManager) return win32::kErrorInvalidHandle;
  if (service == nullptr) return win32::kErrorInvalidParameter;
  if (service_name == nullptr || *service_name == '\0' ||
      std::string_view(service_name).find_first_of("\\/") != std::string_view::npos) {
    return win32::kErrorInvalidName;
  }
  std::string name = Cp1252ToUtf8(service_name);
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  *service = HandleTable::Get().Add(Entry{Entry::kService, name, -1});
  return win32::kErrorSuccess;
}

int32_t DeleteService(ScHandle service) {
  Children::Get().Reap();
  std::string name;
  if (int32_t r = ServiceName(service, &name)) return r;
  ServiceLock lock(name);
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  if (DwordOr(key, "DeleteFlag", 0) != 0) return win32::kErrorServiceMarkedForDelete;
  if (Running(name)) return WinErrorOf(key.SetDword("DeleteFlag", 1));
  Result<RegistryKey> services = RegistryKey::Open(kHkeyLocalMachine, kServicesKeyPath);
  if (!services.ok()) return WinErrorOf(services.status());
  Status s = services->DeleteTree(name);
  if (s.ok()) std::remove(RunFile(name, ".log").c_str());
  return WinErrorOf(s);
}

int32_t StartServiceA(ScHandle service, uint32_t argc, const char* const* argv) {
  Children::Get().Reap();
  std::string name;
  if (int32_t r = ServiceName(service, &name)) return r;
  ServiceLock lock(name);
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  if (DwordOr(key, "DeleteFlag", 0) != 0) return win32::kErrorServiceMarkedForDelete;
  if (DwordOr(key, "Start", kServiceDemandStart) == kServiceDisabled)
    return win32::kErrorServiceDisabled;
  if (Running(name)) return win32::kErrorServiceAlreadyRunning;

  std::filesystem::path program;
  std::vector<std::string> args;
  std::string image = StringOr(key, "ImagePath");
  // A kernel driver without ImagePath is loaded from the system's drivers
  // folder under its own name, where an installer puts its launcher.
  if (image.empty() && DwordOr(key, "Type", 0) == kServiceKernelDriver) {
    image = "\\SystemRoot\\System32\\drivers\\" + name + ".sys";
  }
  if (int32_t r = ParseImagePath(image, &program, &args)) return r;
  for (uint32_t i = 0; i < argc && argv != nullptr; ++i) {
    if (argv[i] != nullptr) args.push_back(Cp1252ToUtf8(argv[i]));
  }
  pid_t pid = 0;
  if (int32_t r = Spawn(name, program, args, &pid)) return r;
  Children::Get().Add(pid);
  RunRecord record;
  record.pid = pid;
  bool zombie = false;
  std::optional<uint64_t> start = ProcessStartTime(pid, &zombie);
  record.start_time = start.value_or(0);
  if (!start || !WriteRecord(name, record)) {
    // Without a record nobody could stop it: do not leave it running.
    Signal(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return start ? win32::kErrorAccessDenied : win32::kErrorBadExeFormat;
  }
  return win32::kErrorSuccess;
}

int32_t QueryServiceStatus(ScHandle service, ServiceStatus* status) {
  Children::Get().Reap();
  if (status == nullptr) return win32::kErrorInvalidParameter;
  std::string name;
  if (int32_t r = ServiceName(service, &name)) return r;
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  *status = ServiceStatus{};
  status->service_type = DwordOr(key, "Type", 0);
  if (std::optional<RunRecord> r = Running(name)) {
    status->current_state = kServiceRunning;
    status->controls_accepted = kServiceAcceptStop;
    status->process_id = r->pid;
  } else {
    status->current_state = kServiceStopped;
    FinishDelete(name);
  }
  return win32::kErrorSuccess;
}

int32_t ControlService(ScHandle service, uint32_t control, ServiceStatus* status) {
  Children::Get().Reap();
  std::string name;
  if (int32_t r = ServiceName(service, &name)) return r;
  if (control == kServiceControlInterrogate) {
    ServiceStatus s;
    if (int32_t r = QueryServiceStatus(service, &s)) return r;
    if (s.current_state != kServiceRunning) return win32::kErrorServiceNotActive;
    if (status != nullptr) *status = s;
    return win32::kErrorSuccess;
  }
  if (control != kServiceControlStop) return win32::kErrorInvalidServiceControl;
  ServiceLock lock(name);
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  uint32_t type = DwordOr(key, "Type", 0);
  std::optional<RunRecord> r = Running(name);
  if (!r) return win32::kErrorServiceNotActive;
  Signal(r->pid, SIGTERM);
  if (!WaitGone(*r, g_stop_wait_ms.load())) {
    Signal(r->pid, SIGKILL);
    if (!WaitGone(*r, kKillWaitMs)) return win32::kErrorServiceRequestTimeout;
  }
  std::remove(RunFile(name, ".pid").c_str());
  key = RegistryKey();
  FinishDelete(name);
  if (status != nullptr) {
    *status = ServiceStatus{};
    status->service_type = type;
    status->current_state = kServiceStopped;
  }
  return win32::kErrorSuccess;
}

int32_t QueryServiceConfigA(ScHandle service, ServiceConfig* config) {
  if (config == nullptr) return win32::kErrorInvalidParameter;
  std::string name;
  if (int32_t r = ServiceName(service, &name)) return r;
  RegistryKey key;
  if (int32_t r = OpenRecord(name, &key)) return r;
  ServiceConfig c;
  c.service_type = DwordOr(key, "Type", 0);
  c.start_type = DwordOr(key, "Start", 0);
  c.error_control = DwordOr(key, "ErrorControl", 0);
  c.binary_path_name = Utf8ToCp1252(StringOr(key, "ImagePath"));
  c.load_order_group = Utf8ToCp1252(StringOr(key, "Group"));
  c.service_start_name = Utf8ToCp1252(StringOr(key, "ObjectName"));
  c.display_name = Utf8ToCp1252(StringOr(key, "DisplayName"));
  if (Result<std::vector<std::string>> deps = key.GetMultiString("DependOnService"); deps.ok()) {
    for (const std::string& d : *deps) c.dependencies.push_back(Utf8ToCp1252(d));
  }
  *config = std::move(c);
  return win32::kErrorSuccess;
}

int32_t LockServiceDatabase(ScHandle manager, ScLock* lock) {
  std::optional<Entry> m = HandleTable::Get().Find(manager);
  if (!m || m->kind != Entry::kManager) return win32::kErrorInvalidHandle;
  if (lock == nullptr) return win32::kErrorInvalidParameter;
  std::filesystem::path path = RunDir() / "service-database.lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return win32::kErrorAccessDenied;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return win32::kErrorServiceDatabaseLocked;
  }
  *lock = HandleTable::Get().Add(Entry{Entry::kLock, {}, fd});
  return win32::kErrorSuccess;
}

int32_t UnlockServiceDatabase(ScLock lock) {
  std::optional<Entry> e = HandleTable::Get().Find(lock);
  if (!e || e->kind != Entry::kLock) return win32::kErrorInvalidServiceLock;
  e = HandleTable::Get().Remove(lock);
  if (e) ::close(e->lock_fd);
  return win32::kErrorSuccess;
}

int32_t CloseServiceHandle(ScHandle handle) {
  std::optional<Entry> e = HandleTable::Get().Find(handle);
  if (!e || e->kind == Entry::kLock) return win32::kErrorInvalidHandle;
  HandleTable::Get().Remove(handle);
  return win32::kErrorSuccess;
}

}  // namespace zimo::platform
