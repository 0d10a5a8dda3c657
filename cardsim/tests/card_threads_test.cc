// All attachments share one card: a line runs whole before another thread's
// line starts, while the servo thread and host-side DPR writes go on.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

TEST(SharedCard, LinesFromManyThreadsRunWhole) {
  Card card(CardModel::Older());
  card.StartServoThread(std::chrono::microseconds(100));
  card.Execute("#1J+");
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&card, t] {
      for (int i = 0; i < kRounds; ++i) {
        // A read-modify-write of P1 inside one line, through two paths.
        if (t % 2 == 0) {
          card.Execute("P1=P1+1");
        } else {
          card.Feed("P1=P1+1\r");
        }
        card.memory().SetDprDword(static_cast<size_t>(t) * 4, static_cast<uint32_t>(i));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  card.StopServoThread();
  EXPECT_DOUBLE_EQ(card.PVar(1), kThreads * kRounds);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(card.memory().DprDword(static_cast<size_t>(t) * 4), kRounds - 1u);
  }
}

}  // namespace
}  // namespace zimo::cardsim
