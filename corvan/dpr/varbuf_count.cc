#include "dpr/varbuf_count.h"

#include "corvan/dpr_api.h"
#include "dpr/dpr_map.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

const DprLayout* LayoutOfDevice(int device) {
  const SharedDeviceBlock* block = IsRealDevice(device) ? App().Block(device) : nullptr;
  return block != nullptr ? &DprLayoutOf(block->SpranFlag != 0) : nullptr;
}

}  // namespace

void ZimoDPRSetVBGNumEntries(int device, std::uint16_t entries) {
  if (const DprLayout* layout = LayoutOfDevice(device)) {
    ZimoDPRSetWord(static_cast<std::uint32_t>(device), layout->vbg_entry_count, entries);
  }
}

void ZimoDPRSetWriteBufferControl(int device, std::uint16_t entries) {
  if (const DprLayout* layout = LayoutOfDevice(device)) {
    ZimoDPRSetWord(static_cast<std::uint32_t>(device), layout->write_buffer_control, entries);
  }
}

}  // namespace zimo::corvan
