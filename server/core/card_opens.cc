#include "core/card_opens.h"

#include <thread>

namespace zimo::server {
namespace {

bool ValidCard(int device) { return device >= 0 && device < kServerCards; }

}  // namespace

CardOpens::CardOpens() : board_(std::make_shared<Board>()) {}

bool CardOpens::Start(int device, std::function<bool()> open) {
  if (!ValidCard(device)) return false;
  {
    std::lock_guard lock(board_->mu);
    Slot& slot = board_->slots[device];
    // An ended open's result is the caller's to take: a card the server
    // opened is never dropped from its records (and left open for ever).
    if (slot.running || slot.ended) return false;
    slot = Slot{};
    slot.running = true;
  }
  // Detached: an open that never ends must not hold up the server's end;
  // the thread owns its share of the board.
  std::thread([board = board_, device, open = std::move(open)] {
    const bool opened = open();
    std::lock_guard lock(board->mu);
    Slot& slot = board->slots[device];
    slot.running = false;
    slot.ended = true;
    slot.opened = opened;
    board->changed.notify_all();
  }).detach();
  return true;
}

void CardOpens::WaitFor(int device, std::chrono::milliseconds limit) {
  if (!ValidCard(device)) return;
  std::unique_lock lock(board_->mu);
  board_->changed.wait_for(lock, limit, [&] { return !board_->slots[device].running; });
}

void CardOpens::WaitForAll(std::chrono::milliseconds limit) {
  std::unique_lock lock(board_->mu);
  board_->changed.wait_for(lock, limit, [this] {
    for (const Slot& slot : board_->slots) {
      if (slot.running) return false;
    }
    return true;
  });
}

std::optional<bool> CardOpens::Take(int device) {
  if (!ValidCard(device)) return std::nullopt;
  std::lock_guard lock(board_->mu);
  Slot& slot = board_->slots[device];
  if (!slot.ended) return std::nullopt;
  slot.ended = false;
  return slot.opened;
}

bool CardOpens::Running(int device) const {
  if (!ValidCard(device)) return false;
  std::lock_guard lock(board_->mu);
  return board_->slots[device].running;
}

bool CardOpens::WaitForEnded(std::stop_token stop) {
  std::unique_lock lock(board_->mu);
  return board_->changed.wait(lock, stop, [this] {
    for (const Slot& slot : board_->slots) {
      if (slot.ended) return true;
    }
    return false;
  });
}

}  // namespace zimo::server
