// DPR data access and the gather helpers on a record whose window is a
// buffer of the test's own (the window the DPR channel would map).
#include <cstring>
#include <vector>

#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "src/internal.h"

namespace {

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    tagMCardInfo image;
    std::memset(&image, 0, sizeof(image));
    std::strcpy(image.name, "GATHER");
    image.method = 3;
    image.simulated = 1;
    record_ = JUXInit(&image);
    ASSERT_NE(record_, nullptr);
    words_.assign(4096, 0);
    jux::Slot(record_->slot).dpr_window = reinterpret_cast<uint8_t*>(words_.data());
    record_->dpr_view = 0x10000;
    record_->mailbox = 0x10000 + 1580;
    control_.record = record_;
    add_myself_to_the_active_Vocto_list(&control_);
  }
  void TearDown() override {
    remove_myself_from_the_active_Vocto_list(&control_);
    jux::Slot(record_->slot).dpr_window = nullptr;
    JUXShutDown(&record_);
  }
  tagMCardInfo* record_ = nullptr;
  std::vector<uint32_t> words_;
  JuxControl control_{};
};

TEST_F(Window, WordsHalvesBitsAndBounds) {
  words_[3] = 0xABCD1234;
  EXPECT_EQ(PDPRGetWord(record_, 'x', 3), 0xABCD);
  EXPECT_EQ(PDPRGetWord(record_, 'Y', 3), 0x1234);
  EXPECT_EQ(PDPRSetWord(record_, 'X', 4, 0x5566), 1);
  EXPECT_EQ(words_[4], 0x55660000u);
  words_[0] = 0x2;
  EXPECT_EQ(PDPRDWordBitSet(record_, 0, 33), 1);
  EXPECT_EQ(PDPRDWordBitSet(record_, 0, 0), 0);
  EXPECT_EQ(PDPRDWordSetBit(record_, 0, 36), 1);
  EXPECT_EQ(words_[0], 0x12u);
  EXPECT_EQ(PDPRDWordResetBit(record_, 0, 1), 1);
  EXPECT_EQ(words_[0], 0x10u);
  EXPECT_EQ(PDPRSetFloat(record_, 5, 2.5f), 1);
  EXPECT_EQ(PDPRGetFloat(record_, 5), 2.5f);
  EXPECT_EQ(PDPRGetDWord(record_, 4095), 0u);
  record_->last_error = 0;
  // Outside the 16384-byte window: 0 and 4001, nothing written.
  EXPECT_EQ(PDPRGetDWord(record_, 4096), 0u);
  EXPECT_EQ(record_->last_error, 4001);
  record_->last_error = 0;
  EXPECT_EQ(PDPRSetDWord(record_, -1, 7), 0);
  EXPECT_EQ(record_->last_error, 4001);
  record_->last_error = 0;
  EXPECT_EQ(PDPRGetWord(record_, 'X', 4096), 0);
  EXPECT_EQ(record_->last_error, 4001);
}

TEST_F(Window, SourceCountsAndOffsets) {
  long ivars[46] = {};
  ivars[20] = 0x7;
  ivars[21] = ivars[22] = ivars[23] = 0x1234;
  EXPECT_EQ(get_total_24bit_sources("GATHER", ivars), 4);
  ivars[22] = 0x800000;
  EXPECT_EQ(get_total_24bit_sources("GATHER", ivars), 4);
  ivars[22] = 0x1234;
  EXPECT_EQ(get_24bit_word_offset_in_ZIMO_gather_array("GATHER", 3, ivars), 2);
  EXPECT_EQ(get_24bit_word_offset_in_ZIMO_gather_array("GATHER", 1, ivars), 0);
  // A gap in the mask: the third source's offset sums the two before it.
  ivars[20] = 0x5;
  ivars[21] = 0x800000;  // source 0 takes two words
  EXPECT_EQ(get_24bit_word_offset_in_ZIMO_gather_array("GATHER", 2, ivars), 2);
  EXPECT_EQ(get_total_24bit_sources("NOBODY", ivars), -1);
  EXPECT_EQ(get_24bit_word_offset_in_ZIMO_gather_array("NOBODY", 2, ivars), -1);
  EXPECT_EQ(get_num_samples_from_DPRAM("NOBODY", 0), -1);
}

TEST_F(Window, CopiesSamplesWithRange) {
  // Count word X half at location 100; samples of source 1 from location 200,
  // two locations per row.
  auto run = [&](std::vector<uint32_t> samples, char type, double* lo, double* hi) {
    words_[100] = static_cast<uint32_t>(samples.size() * 2) << 16;
    for (size_t i = 0; i < samples.size(); ++i) words_[200 + 1 + i * 2] = samples[i];
    std::vector<double> values(samples.size(), -9);
    long count = -5;
    const long n = copy_gathered_data_from_DPRAM("GATHER", 1, type, values.data(), &count, lo, hi,
                                                 2, 1.0, 0, 0.0, 100, 200);
    EXPECT_EQ(n, count);
    return values;
  };
  double lo = 0, hi = 0;
  EXPECT_EQ(run({5, 3, 1}, 'X', &lo, &hi), (std::vector<double>{5, 3, 1}));
  EXPECT_EQ(lo, 1.0);
  EXPECT_EQ(hi, 5.0);
  EXPECT_EQ(run({2, 2, 2}, 'X', &lo, &hi), (std::vector<double>{2, 2, 2}));
  EXPECT_EQ(lo, 2.0);
  EXPECT_EQ(hi, 3.0);
  // 'D': the next location is the signed high word; the offset applies.
  words_[100] = 2 << 16;
  words_[201] = 0xFFFFFF;
  words_[202] = 0xFFFFFFFF;
  double value = 0;
  long count = 0;
  EXPECT_EQ(copy_gathered_data_from_DPRAM("GATHER", 1, 'D', &value, &count, &lo, &hi, 2, 2.0, 0,
                                          0.5, 100, 200),
            1);
  EXPECT_EQ(value, -1.5);
  // Stride 0 and an unknown name copy nothing.
  count = 7;
  EXPECT_EQ(copy_gathered_data_from_DPRAM("GATHER", 1, 'X', &value, &count, &lo, &hi, 0, 1.0, 0,
                                          0.0, 100, 200),
            0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(copy_gathered_data_from_DPRAM("NOBODY", 1, 'X', &value, &count, &lo, &hi, 2, 1.0, 0,
                                          0.0, 100, 200),
            -1);
  // Rows past the window's end are not read.
  words_[100] = 40 << 16;
  std::vector<double> values(40, -9);
  EXPECT_EQ(copy_gathered_data_from_DPRAM("GATHER", 0, 'X', values.data(), &count, &lo, &hi, 2, 1.0,
                                          0, 0.0, 100, 4090),
            3);
}

TEST(Derivative, CentralDifferences) {
  double samples[] = {0, 1, 4, 9};
  get_first_derivative(samples, 4);
  EXPECT_EQ(std::vector<double>(samples, samples + 4), (std::vector<double>{0.5, 2, 4, 2.5}));
  double one[] = {7};
  get_first_derivative(one, 1);
  EXPECT_EQ(one[0], 0.0);
  get_first_derivative(one, 0);
  EXPECT_EQ(one[0], 0.0);
}

}  // namespace
