// Variable background buffers: the users of a device in this process, their
// address lists and data in the DPR's variable area, and the reads of the
// data the card copies there.
//
// The area. Its top is where the free variable area ended before the first
// user came; VbgNextFree holds its lowest word (the start of the address
// lists) while users exist. From there up lie every user's address list, one
// after the other, then the data of every entry in the same order, and the
// card is told where the lists start (VbgStartAddress) and how many entries
// there are (VbgEntryCount): it writes the data right after the lists. A
// user so takes 2 * entries + two-word entries words. Every change of the
// users rewrites all lists in one block and recomputes every user's offsets,
// with the card's entry count at 0 while they move.
//
// Users belong to the process that registered them; the counts and the DPR
// words are shared. A process registers only while no other process holds
// users, so no list ever moves under another process's descriptors
// (varbuf_owner.h: a close gives them up, a process that ended loses them).
//
// Moving lists. A copy the card has begun must never meet lists that are
// moving: it would write the old lists' data over the new lists, or pair
// a new count with an old start and write past the area. So the card's
// service is stopped first (I55 = 0, when it runs: the card answers only
// between copies), the entry count goes to 0, the lists are written, then
// the new start, then the count (and the ready-flag request), and the
// service is started again. A registration or change that takes room
// below the area first waits until the card has taken the write buffer's
// entries, which lie there.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "corvan/internal/device_user_handle.h"
#include "corvan/varbuf_api.h"
#include "dpr/command_lock.h"
#include "dpr/device_block.h"
#include "dpr/dpr_map.h"
#include "dpr/varbuf_area.h"
#include "dpr/varbuf_owner.h"
#include "dpr/write_buffer.h"
#include "link/library_app.h"
#include "link/variables.h"

namespace zimo::corvan {
namespace {

constexpr int kMaxEntries = 128;
constexpr int kFirstHandle = 1;
constexpr int kLastHandle = kVbgUserSlots - 1;
constexpr int kHandshakePolls = 5000;
constexpr std::uint16_t kReadyBitsRequest = 256;  // the host asks for per-entry ready flags
constexpr std::uint32_t kReadyBit = 0x80000000u;

constexpr std::int16_t kErrorNoDpr = -28;
constexpr std::int16_t kErrorUsers = -100;
constexpr std::int16_t kErrorEntries = -101;
constexpr std::int16_t kErrorNoRoom = 59;

// What one call works on.
struct Vbg {
  std::uint32_t device = 0;
  SharedDeviceBlock* block = nullptr;
  DprBufferState* buffers = nullptr;
  const DprLayout* layout = nullptr;
  bool spran = false;

  std::optional<VarBufUser>& slot(int handle) const {
    return buffers->VbgUsers[static_cast<std::size_t>(handle)];
  }
  std::uint32_t two_word_bit() const { return TwoWordBit(spran); }
};

// The device when its DPR is usable from this process. Without DPR the
// block (when there is one) records -28.
std::optional<Vbg> DprDevice(std::uint32_t device, bool record_error = true) {
  SharedDeviceBlock* block = BlockOf(device);
  if (block == nullptr) return std::nullopt;
  DeviceUserHandle* user = App().User(IndexFromDeviceNumber(device));
  if (user == nullptr || user->DprAvailable == 0) {
    if (record_error) block->DprLastError = kErrorNoDpr;
    return std::nullopt;
  }
  Vbg v;
  v.device = device;
  v.block = block;
  v.buffers = &user->DprBuffers;
  v.spran = block->SpranFlag != 0;
  v.layout = &DprLayoutOf(v.spran);
  return v;
}

bool ReadWord(const Vbg& v, std::uint32_t offset, std::uint16_t* value) {
  return ZimoDPRGetMem(v.device, offset, sizeof *value, value) != nullptr;
}
bool WriteWord(const Vbg& v, std::uint32_t offset, std::uint16_t value) {
  return ZimoDPRSetMem(v.device, offset, sizeof value, &value) != nullptr;
}
bool ReadWords(const Vbg& v, std::uint32_t offset, std::uint32_t* words, std::size_t count) {
  if (count == 0) return true;
  return ZimoDPRGetMem(v.device, offset, static_cast<std::uint32_t>(4 * count), words) != nullptr;
}
bool WriteWords(const Vbg& v, std::uint32_t offset, const std::uint32_t* words, std::size_t count) {
  if (count == 0) return true;
  return ZimoDPRSetMem(v.device, offset, static_cast<std::uint32_t>(4 * count), words) != nullptr;
}

// Reads the handshake word until the card leaves it at 0; false when it is
// still set (or cannot be read) after the last poll.
bool WaitForHandshake(const Vbg& v) {
  for (int poll = 0; poll < kHandshakePolls; ++poll) {
    std::uint16_t word = 1;
    if (!ReadWord(v, v.layout->vbg_handshake, &word)) return false;
    if (word == 0) return true;
  }
  return false;
}

int HandleCount(const Vbg& v) {
  int users = 0;
  for (int h = kFirstHandle; h <= kLastHandle; ++h) users += v.slot(h).has_value() ? 1 : 0;
  return users;
}

int EntryTotal(const Vbg& v) {
  int entries = 0;
  for (int h = kFirstHandle; h <= kLastHandle; ++h) {
    if (v.slot(h)) entries += v.slot(h)->entry_count;
  }
  return entries;
}

bool ValidHandle(int handle) { return handle >= kFirstHandle && handle <= kLastHandle; }

// Firmware that flags each entry ready on its own: a version above 1.15,
// or 1.15 whose fifth character is a letter above 'F' other than 'T'. The
// version's leading number is compared as a decimal, digit by digit.
bool FirmwareHasReadyBits(const char* text, std::size_t size) {
  const std::size_t length = strnlen(text, size);
  std::size_t i = 0;
  std::string whole, fraction;
  while (i < length && std::isdigit(static_cast<unsigned char>(text[i]))) whole += text[i++];
  if (whole.empty()) return false;
  if (i < length && text[i] == '.') {
    ++i;
    while (i < length && std::isdigit(static_cast<unsigned char>(text[i]))) fraction += text[i++];
  }
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  if (whole != "1") return whole.size() > 1 || whole > "1";
  std::string reference = "15";
  const std::size_t digits = std::max(fraction.size(), reference.size());
  fraction.resize(digits, '0');
  reference.resize(digits, '0');
  if (fraction != reference) return fraction > reference;
  return length > 4 && text[4] > 'F' && text[4] != 'T';
}

// The start of the address lists as the card is told it: a card address on
// older cards, the word offset from the end of the fixed areas on SPRAN.
std::uint16_t CardStart(const Vbg& v, std::uint32_t start_word) {
  return static_cast<std::uint16_t>(v.spran ? start_word - v.layout->fixed_end_words
                                            : v.block->DprCardBase + start_word);
}

// The lowest word an area may reach: the end of the fixed areas plus what
// the card reports in RotaryAreaEnd. Empty when the word cannot be read.
std::optional<std::uint32_t> LowestWord(const Vbg& v) {
  std::uint16_t rotary_end = 0;
  if (!ReadWord(v, v.layout->rotary_area_end, &rotary_end)) return std::nullopt;
  return v.layout->fixed_end_words + rotary_end;
}

// A user as it will be laid out: its descriptor and its address words.
struct Planned {
  int handle = 0;
  VarBufUser user;
  std::vector<std::uint32_t> words;
};

// Reads a registered user's address words from the DPR.
bool PlanExisting(const Vbg& v, int handle, Planned* planned) {
  planned->handle = handle;
  planned->user = *v.slot(handle);
  planned->words.resize(planned->user.entry_count);
  return ReadWords(v, planned->user.address_offset, planned->words.data(), planned->words.size());
}

// Writes every list, in the given order, from `start_word` on in one block
// (ready flags cleared: the data has not been written at its new place
// yet) and gives each user its offsets: its list where the block puts it,
// its data after all lists behind the data of the users listed before it.
bool PlaceUsers(const Vbg& v, std::uint32_t start_word, std::vector<Planned>& users) {
  std::vector<std::uint32_t> lists;
  for (const Planned& p : users) {
    for (std::uint32_t word : p.words) lists.push_back(word & ~kReadyBit);
  }
  if (!WriteWords(v, start_word * 4, lists.data(), lists.size())) return false;
  std::uint32_t list_word = start_word;
  std::uint32_t data_word = start_word + static_cast<std::uint32_t>(lists.size());
  for (Planned& p : users) {
    p.user.address_offset = static_cast<std::uint16_t>(list_word * 4);
    p.user.data_offset = static_cast<std::uint16_t>(data_word * 4);
    list_word += p.user.entry_count;
    data_word += DataWords(p.user);
  }
  return true;
}

void Commit(const Vbg& v, const std::vector<Planned>& users) {
  for (const Planned& p : users) v.slot(p.handle) = p.user;
}

// The users of this process in the order their lists lie in the DPR.
std::vector<int> HandlesInListOrder(const Vbg& v) {
  std::vector<int> handles;
  for (int h = kFirstHandle; h <= kLastHandle; ++h) {
    if (v.slot(h)) handles.push_back(h);
  }
  std::stable_sort(handles.begin(), handles.end(), [&v](int a, int b) {
    return v.slot(a)->address_offset < v.slot(b)->address_offset;
  });
  return handles;
}

// Gives the card its entries back after the lists moved: the entry
// count, then (firmware with ready flags) the request for them, which the
// card answers by clearing the handshake word once its service runs.
// True when the request was made.
bool Resume(const Vbg& v, int entries) {
  WriteWord(v, v.layout->vbg_entry_count, static_cast<std::uint16_t>(entries));
  if (entries == 0 || v.block->VbgEntryReadyMode != 1) return false;
  WriteWord(v, v.layout->vbg_handshake, kReadyBitsRequest);
  return true;
}

// The card's service held off while lists move. When the card says its
// service runs (I55 is 1), or the service was switched on
// (BackgroundActive), it is stopped, and started again by Restart (or at
// the end of the scope). The switch counts too: a process killed while it
// moved lists has left the card's service stopped.
class ServicePause {
 public:
  explicit ServicePause(const Vbg& v) : device_(v.device) {
    const int d = IndexFromDeviceNumber(device_);
    stopped_ = v.block->BackgroundActive != 0 ||
               GetVariable32(LibraryCommandPath(), d, 'I', 55, 0) == 1;
    if (stopped_) ZimoSendCommandA(device_, "i55=0");
  }
  ~ServicePause() { Restart(); }
  ServicePause(const ServicePause&) = delete;
  ServicePause& operator=(const ServicePause&) = delete;

  void Restart() {
    if (stopped_) ZimoSendCommandA(device_, "i55=1");
    stopped_ = false;
  }

 private:
  std::uint32_t device_;
  bool stopped_ = false;
};

// Before lists take room below the area's lowest word (`new_start` below
// `area_start`): the write buffer's entries that lie there must have been
// taken by the card.
bool RoomBelowIsFree(const Vbg& v, std::uint32_t new_start, std::uint32_t area_start) {
  return new_start >= area_start || WaitForWriteBuffer(v.device, *v.layout);
}

// The card has nothing to refresh while lists move.
void Suspend(const Vbg& v) {
  WriteWord(v, v.layout->vbg_entry_count, 0);
  WriteWord(v, v.layout->vbg_handshake, 0);
}

// The address words of a new list with the two-word marks of `types`
// merged in; the list's two-word entries.
std::vector<std::uint32_t> MergeTypes(const Vbg& v, std::uint16_t count,
                                      const std::uint32_t* addresses, const std::uint32_t* types) {
  std::vector<std::uint32_t> words(addresses, addresses + count);
  if (types != nullptr) {
    const std::uint32_t shift = v.spran ? 20 : 16;
    for (std::size_t i = 0; i < words.size(); ++i) {
      words[i] = (words[i] & ((1u << shift) - 1)) | (types[i] << shift);
    }
  }
  return words;
}

std::uint16_t TwoWordEntries(const Vbg& v, const std::vector<std::uint32_t>& words) {
  return static_cast<std::uint16_t>(std::count_if(
      words.begin(), words.end(), [&v](std::uint32_t w) { return (w & v.two_word_bit()) != 0; }));
}

std::int32_t Refuse(const Vbg& v, std::int16_t code) {
  v.block->DprLastError = code;
  return 0;
}

std::int32_t Register(const Vbg& v, std::uint16_t count, std::uint32_t* addresses,
                      const std::uint32_t* types) {
  const int users = HandleCount(v);
  if (v.block->VbgUserCount > users || users >= kLastHandle) return Refuse(v, kErrorUsers);
  const int old_entries = EntryTotal(v);
  if (count == 0 || addresses == nullptr || old_entries + count > kMaxEntries) {
    return Refuse(v, kErrorEntries);
  }
  int handle = kFirstHandle;
  while (v.slot(handle)) ++handle;

  Planned added;
  added.handle = handle;
  added.words = MergeTypes(v, count, addresses, types);
  added.user.entry_count = count;
  added.user.extra_words = TwoWordEntries(v, added.words);

  const std::uint32_t area_start = AreaStartWord(*v.block);
  const std::uint32_t need = AreaWords(added.user);
  const std::optional<std::uint32_t> lowest = LowestWord(v);
  if (!lowest) return Refuse(v, kErrorNoDpr);
  if (area_start < need || area_start - need < *lowest) return Refuse(v, kErrorNoRoom);
  const std::uint32_t new_start = area_start - need;

  std::vector<Planned> planned;
  for (int h : HandlesInListOrder(v)) {
    planned.emplace_back();
    if (!PlanExisting(v, h, &planned.back())) return Refuse(v, kErrorNoDpr);
  }
  planned.push_back(added);
  if (!RoomBelowIsFree(v, new_start, area_start)) return Refuse(v, kErrorNoRoom);

  ServicePause pause(v);
  Suspend(v);
  if (!PlaceUsers(v, new_start, planned)) {
    Resume(v, old_entries);
    return Refuse(v, kErrorNoDpr);
  }
  Commit(v, planned);
  if (types != nullptr) std::copy(added.words.begin(), added.words.end(), addresses);

  v.block->VbgEntryReadyMode =
      FirmwareHasReadyBits(v.block->FirmwareVersion, sizeof v.block->FirmwareVersion) ? 1 : 0;
  // The start first, while the card has no entries: the count it then
  // gets describes lists that already lie where the start points.
  WriteWord(v, v.layout->vbg_start_address, CardStart(v, new_start));
  Resume(v, old_entries + count);
  pause.Restart();
  HoldVbgUsers(*v.block);
  v.block->VbgNextFree = v.block->DprCardBase + new_start;
  v.block->VbgUserCount = static_cast<std::uint16_t>(v.block->VbgUserCount + 1);
  v.block->VbgInUse = 1;
  return handle;
}

// The users other than `handle`, in handle order, with their lists read.
bool PlanOthers(const Vbg& v, int handle, std::vector<Planned>* planned) {
  for (int h = kFirstHandle; h <= kLastHandle; ++h) {
    if (h == handle || !v.slot(h)) continue;
    planned->emplace_back();
    if (!PlanExisting(v, h, &planned->back())) return false;
  }
  return true;
}

int Entries(const std::vector<Planned>& planned) {
  int entries = 0;
  for (const Planned& p : planned) entries += p.user.entry_count;
  return entries;
}

// Removal and change: the user's lists leave the area, others (and the
// changed list, when given) are laid out again from the new start.
std::int32_t Relayout(const Vbg& v, int handle, const Planned* changed) {
  const VarBufUser old = *v.slot(handle);
  const int old_entries = EntryTotal(v);
  const std::uint32_t area_start = AreaStartWord(*v.block);
  std::uint32_t new_start = area_start + AreaWords(old);
  if (changed != nullptr) {
    const std::optional<std::uint32_t> lowest = LowestWord(v);
    if (!lowest) return Refuse(v, kErrorNoDpr);
    const std::uint32_t need = AreaWords(changed->user);
    if (new_start < need || new_start - need < *lowest) return Refuse(v, kErrorNoRoom);
    new_start -= need;
  }
  std::vector<Planned> planned;
  if (!PlanOthers(v, handle, &planned)) return Refuse(v, kErrorNoDpr);
  if (changed != nullptr) planned.push_back(*changed);
  if (!RoomBelowIsFree(v, new_start, area_start)) return Refuse(v, kErrorNoRoom);

  ServicePause pause(v);
  Suspend(v);
  if (!WaitForHandshake(v) || !PlaceUsers(v, new_start, planned)) {
    Resume(v, old_entries);
    return 0;
  }
  if (changed == nullptr) v.slot(handle).reset();
  Commit(v, planned);
  const int entries = Entries(planned);
  WriteWord(v, v.layout->vbg_start_address, CardStart(v, new_start));
  const bool requested = Resume(v, entries);
  pause.Restart();
  if (requested) WaitForHandshake(v);
  v.block->VbgNextFree = v.block->DprCardBase + new_start;
  if (changed == nullptr) {
    v.block->VbgUserCount = static_cast<std::uint16_t>(v.block->VbgUserCount - 1);
    LetGoOfVbgUsersWhenNone(*v.block);
  }
  v.block->VbgInUse = entries > 0 ? 1 : 0;
  return 1;
}

// The user's slot when it may be removed or changed.
bool Removable(const Vbg& v, int handle) {
  return v.block->VbgUserCount != 0 && ValidHandle(handle) && v.slot(handle).has_value();
}

// Data words before entry `index` of a user's list.
std::uint32_t DataWordsBefore(const Vbg& v, const std::vector<std::uint32_t>& words,
                              std::size_t index) {
  std::uint32_t k = 0;
  for (std::size_t i = 0; i < index; ++i) k += (words[i] & v.two_word_bit()) != 0 ? 2 : 1;
  return k;
}

// What a read works on: the device, the user, the user's address words
// from the DPR, and whether the card flags each entry ready (else the one
// handshake word tells).
struct Readable {
  Vbg v;
  const VarBufUser* user = nullptr;
  std::vector<std::uint32_t> words;
  bool ready_bits = false;
};

// Nothing for a device without DPR, no destination, a handle with no user
// or address words that cannot be read.
std::optional<Readable> ReadableUser(std::uint32_t device, int handle, const void* destination) {
  const std::optional<Vbg> v = DprDevice(device, false);
  if (!v || destination == nullptr) return std::nullopt;
  if (!ValidHandle(handle) || !v->slot(handle)) return std::nullopt;
  Readable r;
  r.v = *v;
  r.user = &*v->slot(handle);
  r.words.resize(r.user->entry_count);
  if (!ReadWords(*v, r.user->address_offset, r.words.data(), r.words.size())) return std::nullopt;
  r.ready_bits = v->block->VbgEntryReadyMode == 1;
  return r;
}

// Whether the card has data for a read: the ready flag of the entry's
// address word, or the handshake word left at 0 by the card.
bool DataReady(const Vbg& v, bool ready_bits, std::uint32_t word) {
  return ready_bits ? (word & kReadyBit) != 0 : WaitForHandshake(v);
}

// What `read` takes from the descriptor of user `handle`, under the
// buffers' mutex; 0 for a device without DPR or a handle with no user.
template <typename Read>
std::uint32_t FromUser(std::uint32_t device, std::int32_t handle, Read read) {
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  const std::optional<Vbg> v = DprDevice(device, false);
  if (!v || !ValidHandle(handle) || !v->slot(handle)) return 0;
  return read(*v->slot(handle));
}

std::uint32_t UserField(std::uint32_t device, std::int32_t handle,
                        std::uint16_t VarBufUser::*field) {
  return FromUser(device, handle,
                  [field](const VarBufUser& user) -> std::uint32_t { return user.*field; });
}

}  // namespace
}  // namespace zimo::corvan

using zimo::corvan::Vbg;

extern "C" {

int32_t ZimoDPRBackGroundVar(uint32_t device, int32_t on) {
  using namespace zimo::corvan;
  const std::optional<Vbg> v = DprDevice(device, false);
  if (!v) return 0;
  ZimoSendCommandA(device, on == 1 ? "i55=1" : "i55=0");
  v->block->BackgroundActive = on == 1 ? 1 : 0;
  return static_cast<int32_t>(v->block->BackgroundActive);
}

int32_t ZimoDPRVarBufInitEx(uint32_t device, uint16_t count, uint32_t* addresses,
                            const uint32_t* types) {
  using namespace zimo::corvan;
  // The device lock before the area's: moving lists asks the card to stop.
  CommandLock lock(device);
  DropUsersOfEndedProcess(IndexFromDeviceNumber(device));
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  const std::optional<Vbg> v = DprDevice(device);
  if (!v) return 0;
  return Register(*v, count, addresses, types);
}

int32_t ZimoDPRVarBufInit(uint32_t device, uint16_t count, const uint32_t* addresses) {
  // Without types the caller's words are only read.
  return ZimoDPRVarBufInitEx(device, count, const_cast<uint32_t*>(addresses), nullptr);
}

int32_t ZimoDPRVarBufRemove(uint32_t device, int32_t handle) {
  using namespace zimo::corvan;
  CommandLock lock(device);
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  const std::optional<Vbg> v = DprDevice(device);
  if (!v || !Removable(*v, handle)) return 0;
  return Relayout(*v, handle, nullptr);
}

int32_t ZimoDPRVarBufChangeEx(uint32_t device, int32_t handle, uint16_t count,
                              const uint32_t* addresses, const uint32_t* /*types*/) {
  using namespace zimo::corvan;
  CommandLock lock(device);
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  const std::optional<Vbg> v = DprDevice(device);
  if (!v || !Removable(*v, handle)) return 0;
  const int entries = EntryTotal(*v) - v->slot(handle)->entry_count + count;
  if (count == 0 || addresses == nullptr || entries > kMaxEntries) {
    return Refuse(*v, kErrorEntries);
  }
  Planned changed;
  changed.handle = handle;
  changed.words.assign(addresses, addresses + count);
  changed.user.entry_count = count;
  changed.user.extra_words = TwoWordEntries(*v, changed.words);
  return Relayout(*v, handle, &changed);
}

int32_t ZimoDPRVarBufChange(uint32_t device, int32_t handle, uint16_t count,
                            const uint32_t* addresses) {
  return ZimoDPRVarBufChangeEx(device, handle, count, addresses, nullptr);
}

int32_t ZimoDPRVarBufRead(uint32_t device, int32_t handle, int32_t entry, void* destination) {
  using namespace zimo::corvan;
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  const std::optional<Readable> r = ReadableUser(device, handle, destination);
  if (!r || entry < 0 || entry >= r->user->entry_count) return 0;
  const Vbg& v = r->v;
  const auto index = static_cast<std::size_t>(entry);
  if (!DataReady(v, r->ready_bits, r->words[index])) return 0;

  std::uint32_t data[2] = {0, 0};
  const std::size_t length = (r->words[index] & v.two_word_bit()) != 0 ? 2 : 1;
  const std::uint32_t at = r->user->data_offset + 4 * DataWordsBefore(v, r->words, index);
  if (!ReadWords(v, at, data, length)) return 0;
  std::memcpy(destination, data, sizeof data);
  if (r->ready_bits) {
    const std::uint8_t cleared = 0;
    ZimoDPRSetMem(device, r->user->address_offset + 4 * static_cast<std::uint32_t>(index) + 3, 1,
                  &cleared);
  } else {
    WriteWord(v, v.layout->vbg_handshake, 0);
  }
  return 1;
}

int32_t ZimoDPRVarBufReadEx(uint32_t device, int32_t handle, void* destination) {
  using namespace zimo::corvan;
  std::lock_guard<std::mutex> guard(VariableAreaMutex());
  std::optional<Readable> r = ReadableUser(device, handle, destination);
  if (!r || r->words.empty()) return 0;
  const Vbg& v = r->v;
  if (!DataReady(v, r->ready_bits, r->words.back())) return 0;

  std::vector<std::uint32_t> data(DataWords(*r->user));
  if (!ReadWords(v, r->user->data_offset, data.data(), data.size())) return 0;
  std::memcpy(destination, data.data(), 4 * data.size());
  if (r->ready_bits) {
    for (std::uint32_t& word : r->words) word &= ~kReadyBit;
    WriteWords(v, r->user->address_offset, r->words.data(), r->words.size());
  } else {
    WriteWord(v, v.layout->vbg_handshake, 0);
  }
  return 1;
}

uint32_t ZimoDPRGetVBGNumEntries(uint32_t device, int32_t handle) {
  return zimo::corvan::UserField(device, handle, &zimo::corvan::VarBufUser::entry_count);
}

uint32_t ZimoDPRGetVBGAddrOffset(uint32_t device, int32_t handle) {
  return zimo::corvan::UserField(device, handle, &zimo::corvan::VarBufUser::address_offset);
}

uint32_t ZimoDPRGetVBGDataOffset(uint32_t device, int32_t handle) {
  return zimo::corvan::UserField(device, handle, &zimo::corvan::VarBufUser::data_offset);
}

uint32_t ZimoDPRGetVBGAddress(uint32_t device, int32_t handle, int32_t n) {
  return zimo::corvan::FromUser(device, handle, [&](const zimo::corvan::VarBufUser& user) {
    if (n < 0 || n >= user.entry_count) return 0u;
    return ZimoDPRGetDWord(device, user.address_offset + 4 * static_cast<uint32_t>(n));
  });
}

uint32_t ZimoDPRGetVBGServoTimer(uint32_t device) {
  using namespace zimo::corvan;
  const std::optional<Vbg> v = DprDevice(device, false);
  if (!v) return 0;
  return ZimoDPRGetWord(device, v->layout->vbg_servo_timer);
}

uint32_t ZimoDPRGetVBGTotalEntries(uint32_t device) {
  using namespace zimo::corvan;
  const std::optional<Vbg> v = DprDevice(device, false);
  if (!v) return 0;
  return ZimoDPRGetWord(device, v->layout->vbg_entry_count);
}

}  // extern "C"
