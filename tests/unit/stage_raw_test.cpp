// Raw frame stages: unpacking, interleaving, references, defect pixels, row doubling.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/binned_references.h"
#include "acquisition/raw_stages.h"
#include "core/record.h"
#include "core/state.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"

namespace {

using interp_test::Refs;
using ucap::Rect;

// Packs words two by two: high bytes of both, then the low nibbles.
std::vector<uint8_t> Pack(const std::vector<uint16_t>& words) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < words.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(words[i] >> 4));
    bytes.push_back(static_cast<uint8_t>(words[i + 1] >> 4));
    bytes.push_back(static_cast<uint8_t>(((words[i] & 0xF) << 4) | (words[i + 1] & 0xF)));
  }
  return bytes;
}

std::vector<uint16_t> Words(const std::vector<uint8_t>& frame, size_t n) {
  std::vector<uint16_t> out(n);
  std::memcpy(out.data(), frame.data(), n * 2);
  return out;
}

TEST(UnpackPixels12, ExpandsAWholeFrameOrTwoFieldsPackedSeparatelyInPlace) {
  std::mt19937 rng(1);
  std::vector<uint16_t> words(14 * 6);
  for (auto& w : words) w = static_cast<uint16_t>(rng() & 0xFFF);
  std::vector<uint8_t> frame = Pack(words);
  frame.resize(words.size() * 2, 0x5A);
  ucap::UnpackPixels12(frame.data(), frame.size(), 0, 14, 6, 0);
  EXPECT_EQ(Words(frame, words.size()), words);
  // Mode 2, 8 x 6: the second field starts half-way through the 96-byte transfer.
  const int N = 8 * 6;
  const uint32_t packet = 12, packets = 8;
  const std::vector<uint8_t> a = Pack({words.begin(), words.begin() + N / 2});
  const std::vector<uint8_t> b = Pack({words.begin() + N / 2, words.begin() + N});
  frame.assign(N * 2, 0);
  std::copy(a.begin(), a.end(), frame.begin());
  std::copy(b.begin(), b.end(), frame.begin() + packet * packets / 2);
  ucap::UnpackPixels12(frame.data(), frame.size(), 2, 8, 6, uint64_t{packet} * packets);
  EXPECT_EQ(Words(frame, N), std::vector<uint16_t>(words.begin(), words.begin() + N));
}

TEST(InterleaveFields, AnOddLastRowHasNoPartnerAndNothingIsWrittenPastTheImage) {
  const int W = 3, H = 3;
  std::vector<uint16_t> src(W * H), dst(W * H + 4, 0xEEEE);
  for (int i = 0; i < W * H; ++i) src[i] = static_cast<uint16_t>(i);
  ucap::InterleaveFields(dst.data(), src.data(), W, H);
  // Rows 0 and 2 from the first field (words 0..5), row 1 from the second (from word 4).
  EXPECT_EQ(std::vector<uint16_t>(dst.begin(), dst.begin() + 9),
            (std::vector<uint16_t>{0, 1, 2, 4, 5, 6, 3, 4, 5}));
  for (int i = W * H; i < W * H + 4; ++i) EXPECT_EQ(dst[i], 0xEEEE);
}

TEST(ApplyReferences, OnePixelWithTheDarkValueOffsetAndGainOfItsSite) {
  // Dark part (d * ticks / 8) >> 13; at 240000 ticks d is limited to 1118; gain 4096 is 1.
  const struct {
    const char* what;
    int32_t dark, offset, gain, pixel, ticks, black, white, expected;
  } cases[] = {
      {"dark part and offset subtracted", 1000, 5, 4096, 1000, 4000, true, false, 934},
      {"a negative offset adds", 1000, -5, 4096, 1000, 4000, true, false, 944},
      {"clamped at 0", 1000, -5, 4096, 10, 4000, true, false, 0},
      {"a negative dark value is used unchanged", -100, 0, 4096, 1000, 4000, true, false, 1007},
      {"gain around the black level", 0, 0, 8192, 1000, 4000, false, true, 1968},
      {"gain clamped at 4095", 0, 0, 8192, 3000, 4000, false, true, 4095},
      {"gain below the black level", 0, 0, 8192, 16, 4000, false, true, 0},  // (-16 * 2) + 32
      {"the shift rounds toward minus infinity", 0, 0, 3000, 31, 4000, false, true, 31},
      {"subtracted before the gain", 1000, 5, 6144, 1000, 4000, true, true,
       1385},  // 902 * 1.5 + 32
      {"a long exposure limits the dark value", 3000, 0, 4096, 4095, 240000, true, false, 1},
      {"the limit itself", 1118, 0, 4096, 4095, 240000, true, false, 1},  // 4095 - 4094
      {"below the limit", 1117, 0, 4096, 4095, 240000, true, false, 5},   // 4095 - 4090
      {"a dark product beyond 32 bits (-9000 * 250000)", -9000, 0, 4096, 1000, 2000000, true, false,
       4095},
      {"a long exposure's negative dark value", -10, 0, 4096, 1000, 2000000, true, false, 1306},
  };
  for (const auto& c : cases) {
    Refs r(1, 1, static_cast<int16_t>(c.dark), static_cast<int16_t>(c.gain));
    r.offset(0) = static_cast<uint16_t>(c.offset);
    uint16_t image[1] = {static_cast<uint16_t>(c.pixel)};
    ucap::ApplyReferences(r.view(), image, c.ticks, Rect{0, 0, 1, 1}, 1, c.black, c.white, false);
    EXPECT_EQ(image[0], c.expected) << c.what;
  }
}

TEST(ApplyReferences, BinnedRowsPastTheSensorUseTheNearestSameColorRow) {
  // Binning 2 on an 8-row sensor: the last image row covers rows 7 and 9 -> 7, 7.
  const int W = 2, H = 8;
  Refs r(W, H);
  for (int y = 0; y < H; ++y) r.dark(0, y) = static_cast<uint16_t>(8 * (y + 1));
  std::vector<uint16_t> image(W * 4, 1000);
  ucap::ApplyReferences(r.view(), image.data(), 8192, Rect{0, 0, W, H}, 2, true, false, false);
  EXPECT_EQ(image[0], 1000 - (1 + 3));  // rows 0, 2
  EXPECT_EQ(image[2], 1000 - (4 + 6));  // rows 3, 5
  EXPECT_EQ(image[4], 1000 - (5 + 7));  // rows 4, 6
  EXPECT_EQ(image[6], 1000 - (8 + 8));  // rows 7, 9 -> 7, 7
}

TEST(covered_rows, FollowTheRowPairPatterns) {
  int32_t rows[ucap::kMaxCoveredRows];
  ASSERT_EQ(ucap::covered_rows(0, 1, 6, true, rows), 6);  // b = 3, phase 1
  EXPECT_EQ(std::vector<int32_t>(rows, rows + 6), (std::vector<int32_t>{5, 7, 8, 10, 9, 11}));
  ucap::covered_rows(0, 0, 6, true, rows);  // phase 0
  EXPECT_EQ(std::vector<int32_t>(rows, rows + 6), (std::vector<int32_t>{0, 2, 1, 3, 4, 6}));
  ucap::covered_rows(10, 1, 4, false, rows);  // flag 0, m even, odd row
  EXPECT_EQ(std::vector<int32_t>(rows, rows + 4), (std::vector<int32_t>{15, 17, 19, 21}));
}

struct Blemishes {
  Refs refs;
  std::vector<uint32_t> list;
  explicit Blemishes(int w, int h) : refs(w, h) {}
  void add(int x, int y) { list.push_back(static_cast<uint32_t>(y * refs.w + x)); }
  void run(std::vector<uint16_t>& image, const Rect& rect, int b, int32_t t, bool row_pair,
           bool black_present = false) {
    ucap::CorrectBlemishes(list.data(), static_cast<int32_t>(list.size()), refs.view(),
                           black_present, image.data(), rect, b, t, row_pair);
  }
};

TEST(CorrectBlemishes, UsesTheSameColorNeighboursTwoColumnsAway) {
  Blemishes bl(10, 2);
  std::vector<uint16_t> image(8);
  for (int i = 0; i < 8; ++i) image[i] = static_cast<uint16_t>(100 * (i + 1));
  bl.add(3, 0);  // column left + 1: takes the value two to its right
  bl.add(9, 0);  // last column: two to its left
  bl.add(6, 0);  // inside: rounded mean
  bl.run(image, Rect{2, 0, 10, 1}, 1, 4000, false);
  EXPECT_EQ(image, (std::vector<uint16_t>{100, 400, 300, 400, 500, 600, 700, 600}));
}

TEST(CorrectBlemishes, MapsSensorRowsToBinnedImageRows) {
  // Row pairs, binning 1: rows 1, 3 -> 1; 4, 6 -> 2. Without, binning 2: row 5 -> 3.
  const int rows[][4] = {{true, 1, 3, 1}, {true, 1, 6, 2}, {false, 2, 5, 3}};
  for (const auto& [row_pair, b, sensor_row, image_row] : rows) {
    Blemishes bl(6, 8);
    std::vector<uint16_t> image(6 * 4);
    for (int i = 0; i < 24; ++i) image[i] = static_cast<uint16_t>(i * i);
    bl.add(2, sensor_row);
    bl.run(image, Rect{0, 0, 6, 8}, b, 4000, row_pair != 0);
    const uint16_t* row = &image[6 * image_row];
    EXPECT_EQ(row[2], (row[0] + row[4] + 1) >> 1) << sensor_row;
  }
}

TEST(CorrectBlemishes, NeverReachesOutsideTheImage) {
  Blemishes bl(3, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) bl.add(x, y);
  std::vector<uint16_t> image = {1, 2, 3, 4, 5, 6};  // rows of 2 words, columns 1..2
  bl.run(image, Rect{1, 0, 3, 3}, 1, 4000, false);
  EXPECT_EQ(image, (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));
  // Rows 4 and 5 map past the one binned image row of 6 rows with row pairs.
  Blemishes binned(8, 6);
  binned.add(4, 5);
  std::vector<uint16_t> one_row(8, 7);
  one_row[4] = 99;
  binned.run(one_row, Rect{0, 0, 8, 6}, 2, 4000, true);
  EXPECT_EQ(one_row[4], 99);
}

TEST(CorrectBlemishes, HotPixelsOfTheBlackReferenceJoinAListOfAtMostTenThousand) {
  Blemishes hot(8, 1);
  hot.refs.dark(4, 0) = 300;
  std::vector<uint16_t> row = {10, 20, 30, 40, 500, 60, 70, 80};
  hot.run(row, Rect{0, 0, 8, 1}, 1, 4000, false, true);  // 300 * 4000 below the threshold
  EXPECT_EQ(row[4], 500);
  hot.run(row, Rect{0, 0, 8, 1}, 1, 240000, false, false);  // no black reference
  EXPECT_EQ(row[4], 500);
  hot.run(row, Rect{0, 0, 8, 1}, 1, 240000, false, true);
  EXPECT_EQ(row[4], 50);
  // A full camera list leaves no room for them.
  Blemishes bl(16, 1);
  bl.refs.dark(4, 0) = 30000;
  bl.list.assign(ucap::kMaxBlemishes, 15);  // the last column, repeated
  std::vector<uint16_t> image(16, 100);
  image[4] = 999;
  bl.run(image, Rect{0, 0, 16, 1}, 1, 4000, false, true);
  EXPECT_EQ(image[4], 999);
  bl.list.pop_back();
  bl.run(image, Rect{0, 0, 16, 1}, 1, 4000, false, true);
  EXPECT_EQ(image[4], 100);
}

TEST(CorrectBlemishes, ChainTakesTheRecordsListOnlyWhenReadAndSwitchedOn) {
  auto cam = std::make_unique<ucap::CameraRecord>();
  cam->blemish_count = 1;
  EXPECT_EQ(ucap::flow::chain_inputs(*cam).blemishes, nullptr) << "the list was not read";
  cam->blemish_list_valid = 1;
  ucap::state().blemish_switch = 0;
  EXPECT_EQ(ucap::flow::chain_inputs(*cam).blemishes, nullptr) << "switched off";
  ucap::state().blemish_switch = 1;
  const ucap::flow::ChainInputs in = ucap::flow::chain_inputs(*cam);
  EXPECT_EQ(in.blemishes, cam->blemishes);
  EXPECT_EQ(in.blemish_count, 1);
}

TEST(double_rows, AveragesSameColorRowsRepeatsTheLastPairAndStaysInsideBothImages) {
  const int W = 2;
  std::vector<uint16_t> dst(W * 2 * 4 + 2, 0xEEEE);
  const std::vector<uint16_t> src = {10, 11, 20, 21, 31, 40, 41, 50};
  ucap::double_rows(dst.data(), src.data(), W, 4);
  EXPECT_EQ(dst, (std::vector<uint16_t>{10, 11, 20, 21, 21, 26, 31, 36, 31, 40, 41, 50, 31, 40, 41,
                                        50, 0xEEEE, 0xEEEE}));
  const std::vector<uint16_t> odd = {10, 10, 20, 20, 30, 30};
  dst.assign(W * 2 * 3 + 2, 0xEEEE);
  ucap::double_rows(dst.data(), odd.data(), W, 3);
  EXPECT_EQ(
      dst, (std::vector<uint16_t>{10, 10, 20, 20, 20, 20, 20, 20, 30, 30, 20, 20, 0xEEEE, 0xEEEE}));
}

struct Binned {
  std::vector<uint16_t> black, white;
  explicit Binned(size_t n, uint16_t fill = 0xEEEE) : black(n, fill), white(n, fill) {}
  ucap::BinnedReferences out() { return {black.data(), white.data(), black.size()}; }
};

TEST(PrepareBinnedReferences, OffsetsSaturateInsteadOfWrapping) {
  Refs s(1, 4);
  s.offset(0) = 32000;
  for (int y = 0; y < 4; ++y) s.dark(0, y) = 4000;  // dark part (4095 * 3000) >> 13 = 1499
  Binned b(1);
  ucap::PrepareBinnedReferences(s.view(), b.out(), 24000, Rect{0, 0, 1, 4}, 2, true, false);
  EXPECT_EQ(b.black[0], 32767);
  std::vector<uint16_t> image = {4095};
  ucap::ApplyBinnedReferences(b.black.data(), b.white.data(), 1, image.data(), Rect{0, 0, 1, 4}, 2,
                              true, false);
  EXPECT_EQ(image[0], 0);
}

TEST(BinnedReferences, AgreeWithThePerFrameCorrectionWithRowPairs) {
  std::mt19937 rng(5);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 300; ++trial) {
    const int b = uniform(2, 5);
    const int unit = 2 * b;
    const int w = unit * uniform(1, 6), h = unit * uniform(2, 8) + (trial % 2) * 2;
    Refs s(w, h);
    for (auto& v : s.black) v = static_cast<uint16_t>(uniform(-300, 4095));
    for (int x = 0; x < w; ++x) s.offset(x) = static_cast<uint16_t>(uniform(-100, 100));
    for (auto& v : s.white) v = static_cast<uint16_t>(uniform(1024, 12000));
    const int left = unit * uniform(0, w / unit - 1),
              right = unit * uniform(left / unit + 1, w / unit);
    const int top = unit * uniform(0, h / unit - 1);
    const int bottom = trial % 3 == 0 ? h - h % unit : unit * uniform(top / unit + 1, h / unit);
    const Rect rect{left, top, right, bottom};
    const bool black = uniform(0, 2) != 0, white = uniform(0, 2) != 1 || !black;
    const int32_t ticks = trial % 4 == 0 ? uniform(65536, 240000) : uniform(1, 65536);
    const int rows = rect.height() / unit;
    std::vector<uint16_t> frame(static_cast<size_t>(rows) * rect.width());
    for (auto& v : frame) v = static_cast<uint16_t>(uniform(0, 4095));
    auto expected = frame;
    ucap::ApplyReferences(s.view(), expected.data(), ticks, rect, b, black, white, true);
    Binned binned(frame.size());
    ucap::PrepareBinnedReferences(s.view(), binned.out(), ticks, rect, b, black, white);
    ucap::ApplyBinnedReferences(binned.black.data(), binned.white.data(), frame.size(),
                                frame.data(), rect, b, black, white);
    ASSERT_EQ(frame, expected) << "trial " << trial << " b " << b << " rect " << left << "," << top
                               << "," << right << "," << bottom << " ticks " << ticks;
  }
}

}  // namespace
