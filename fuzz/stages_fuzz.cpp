// Every image stage with arbitrary geometry, binning, switches and samples, each given
// buffers exactly as large as its geometry says (the sanitizers catch any access outside
// them); stages that promise 12-bit results are held to it, and the stages that split
// their rows over the band pool give, split, exactly what they give whole. The first byte
// picks the stage.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "calibration/color_tables.h"
#include "color/interpolation.h"
#include "core/bands.h"
#include "flow/chain.h"
#include "flow/image_size.h"
#include "flow/stage_adapters.h"
#include "fuzz_input.h"

namespace {

using ucap::Rect;
using ucap_fuzz::check;
using ucap_fuzz::Input;

void twelve_bit(const std::vector<uint16_t>& v, const char* stage) {
  for (uint16_t s : v) check(s <= 4095, stage);
}

size_t at_least_one(int64_t n) { return static_cast<size_t>(std::max<int64_t>(1, n)); }

const ucap::ColorTables& tables() {
  static const auto t = [] {
    auto made = std::make_unique<ucap::ColorTables>();
    const double white[3] = {1.3, 1.0, 1.7}, saturation[3] = {1.2, 1.0, 2.5};
    ucap::build_gain_tables(white, *made);
    double matrix[9];
    ucap::build_color_matrix(saturation, matrix);
    ucap::build_term_tables(matrix, *made);
    ucap::fill_output_table(*made);
    return made;
  }();
  return *t;
}

void raw_stages(Input& in) {
  const int W = in.integer(1, 64), H = in.integer(1, 64);
  const size_t n = static_cast<size_t>(W) * H;
  std::vector<uint16_t> frame = in.words(n);
  ucap::UnpackPixels12(reinterpret_cast<uint8_t*>(frame.data()), 2 * n, in.integer(0, 3), W, H,
                       static_cast<uint64_t>(in.range(0, 6 * static_cast<int64_t>(n))));
  std::vector<uint16_t> dst(n), doubled(2 * n);
  ucap::InterleaveFields(dst.data(), frame.data(), W, H);
  ucap::double_rows(doubled.data(), frame.data(), W, H);
}

struct References {
  int W, H;
  std::vector<uint16_t> black, white;
  ucap::ReferenceView view() const { return {black.data(), white.data(), W, H}; }
};
References references(Input& in) {
  References r{in.integer(1, 40), in.integer(1, 40), {}, {}};
  r.black = in.words(static_cast<size_t>(r.H + 2) * r.W);
  r.white = in.words(static_cast<size_t>(r.H) * r.W);
  return r;
}
Rect rectangle(Input& in, int W, int H) {
  const int left = in.integer(-6, W), top = in.integer(-6, H);
  return Rect{left, top, left + in.integer(0, W + 6), top + in.integer(0, H + 8)};
}

void reference_correction(Input& in) {
  const References refs = references(in);
  const Rect rect = rectangle(in, refs.W, refs.H);
  const int b = in.integer(0, 6);
  const bool row_pair = in.flag(), black = in.flag(), white = in.flag(), present = in.flag();
  const int m = std::max(1, row_pair ? 2 * b : b);
  const int32_t ticks = in.flag() ? in.integer(-5, 0) : in.integer(1, 240000);
  std::vector<uint16_t> image(at_least_one(int64_t{rect.height() / m} * rect.width()));
  for (auto& v : image) v = static_cast<uint16_t>(in.word() & 0xFFF);
  ucap::ApplyReferences(refs.view(), image.data(), ticks, rect, b, black, white, row_pair);
  twelve_bit(image, "ApplyReferences");
  std::vector<uint32_t> list(static_cast<size_t>(in.integer(0, 60)));
  for (auto& p : list) p = static_cast<uint32_t>(in.range(0, 2 * int64_t{refs.W} * refs.H + 5));
  ucap::CorrectBlemishes(list.data(), static_cast<int32_t>(list.size()), refs.view(), present,
                         image.data(), rect, b, ticks, row_pair);
  twelve_bit(image, "CorrectBlemishes");
}

void binned_references(Input& in) {
  const References refs = references(in);
  const Rect rect = rectangle(in, refs.W, refs.H);
  const int b = in.integer(1, 6);
  const bool black = in.flag(), white = in.flag();
  const size_t capacity = static_cast<size_t>(in.integer(1, 500));
  std::vector<uint16_t> binned_black(capacity), binned_white(capacity);
  ucap::PrepareBinnedReferences(refs.view(), {binned_black.data(), binned_white.data(), capacity},
                                in.integer(0, 240000), rect, b, black, white);
  std::vector<uint16_t> image(
      at_least_one(int64_t{rect.height() / (2 * b)} * std::max(0, rect.width())));
  for (auto& v : image) v = static_cast<uint16_t>(in.word() & 0xFFF);
  ucap::ApplyBinnedReferences(binned_black.data(), binned_white.data(), capacity, image.data(),
                              rect, b, black, white);
  twelve_bit(image, "ApplyBinnedReferences");
}

void frame_stages(Input& in) {
  const ucap::ColorTables& t = tables();
  const int W = in.flag() ? in.integer(1, 80) : in.integer(1, ucap::kMaxSensorWidth + 8);
  const int H = in.integer(1, W > 80 ? 3 : 40);
  std::vector<uint16_t> image = in.words(static_cast<size_t>(W) * H);
  for (auto& v : image) v &= 0xFFF;
  ucap::CorrectSmear(image.data(), W, H);
  twelve_bit(image, "CorrectSmear");
  const int b = in.integer(1, 5);
  const size_t Q = static_cast<size_t>(W / (2 * b));
  const std::vector<uint16_t> samples = in.words(static_cast<size_t>(W) * H);
  std::vector<uint16_t> color(at_least_one(3 * int64_t(Q) * H)), mono(at_least_one(int64_t(Q) * H));
  ucap::AssembleHalfColor(t, color.data(), samples.data(), b, Rect{0, 0, W, H});
  ucap::AssembleHalfMono(mono.data(), samples.data(), b, Rect{0, 0, W, H});
  twelve_bit(mono, "AssembleHalfMono");
  std::vector<uint16_t> pixels = in.words(3 * static_cast<size_t>(W));
  ucap::ApplyColorMatrix(t, 1, pixels.data(), W);
  twelve_bit(pixels, "ApplyColorMatrix");
}

void interpolators(Input& in) {
  const ucap::ColorTables& t = tables();
  const int w = in.integer(0, 40), h = in.integer(0, 40);
  const size_t n = static_cast<size_t>(w) * h;
  const bool wide = in.flag();
  std::vector<uint16_t> raw = in.words(at_least_one(int64_t(n)));
  if (!wide)
    for (auto& v : raw) v &= 0xFFF;
  std::vector<uint16_t> out(at_least_one(3 * int64_t(n)));
  const Rect rect{0, 0, w, h};
  ucap::InterpolateColor(t, out.data(), raw.data(), rect, in.integer(1, 2),
                         ucap::library_services());
  if (ucap::standard_interpolation_fits(w, h)) twelve_bit(out, "InterpolateColor");
  ucap::InterpolateBlocks(t, out.data(), raw.data(), rect);
  const int b = in.integer(1, 6);
  const int out_w = 2 * ((w / b) / 2), out_h = 2 * (h / 2);
  std::vector<uint16_t> binned(at_least_one(3 * int64_t(out_w) * out_h));
  ucap::InterpolateBinned(t, binned.data(), raw.data(), rect, b, ucap::library_services());
  if (ucap::standard_interpolation_fits(out_w, out_h)) twelve_bit(binned, "InterpolateBinned");
  std::vector<uint16_t> image = in.words(at_least_one(3 * int64_t(n)));
  ucap::InterpolateHighQuality(in.integer(1, 2), w, h, image.data(), ucap::library_services());
  ucap::InterpolateStandard(w, h, image.data());
  ucap::AssembleSingle(in.integer(0, 2), w, h, image.data(), ucap::library_services());
}

// Frames tall enough for the band pool to split (color bands take 128 rows each at
// least): each stage once on the calling thread alone and once split over the pool.
void banded(Input& in) {
  const ucap::ColorTables& t = tables();
  const int w = 2 * in.integer(2, 20), h = 2 * in.integer(128, 200);
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<uint16_t> raw = in.words(n);
  const int quality = in.integer(1, 2), b = in.integer(1, 5);
  const Rect rect{0, 0, w, h};
  const int out_w = 2 * ((w / b) / 2);
  auto run_all = [&] {
    std::vector<uint16_t> color(3 * n), blocks(3 * n), binned(3 * static_cast<size_t>(out_w) * h),
        half(std::max<size_t>(1, 3 * static_cast<size_t>(w / (2 * b)) * h));
    ucap::InterpolateColor(t, color.data(), raw.data(), rect, quality, ucap::library_services());
    ucap::InterpolateBlocks(t, blocks.data(), raw.data(), rect);
    ucap::InterpolateBinned(t, binned.data(), raw.data(), rect, b, ucap::library_services());
    ucap::AssembleHalfColor(t, half.data(), raw.data(), b, rect);
    return std::vector<std::vector<uint16_t>>{color, blocks, binned, half};
  };
  ucap::bands::stop();
  const auto whole = run_all();
  ucap::bands::start();
  const auto split = run_all();
  ucap::bands::stop();
  check(whole == split, "banded stages give what the whole-frame stages give");
}

// The whole chain for an arbitrary plan whose transfer the flow's own check accepts, with
// a frame and an image exactly as large as they have to be.
void chain(Input& in) {
  const References refs = references(in);
  ucap::CapturePlan plan;
  plan.resolution = in.integer(0, 3);
  plan.bits_per_pixel = in.flag() ? 12 : 36;
  plan.binning = in.integer(1, 5);
  plan.ticks = in.integer(0, 240000);
  plan.image = rectangle(in, refs.W, refs.H);
  plan.black = in.flag();
  plan.white = in.flag();
  plan.black_present = in.flag();
  plan.pipeline = static_cast<ucap::Pipeline>(in.integer(0, 2));
  plan.transferred = Rect{0, 0, 2 * in.integer(1, refs.W / 2 + 1), in.integer(1, refs.H)};
  const int32_t bytes = ucap::flow::image_bytes(plan);
  if (bytes == 0 || !ucap::flow::transfer_makes(plan, refs.W, refs.H, bytes)) return;
  const size_t words = static_cast<size_t>(plan.transferred.width()) * plan.transferred.height();
  std::vector<uint16_t> frame = in.words(words), out(static_cast<size_t>(bytes) / 2);
  std::vector<uint16_t> binned_black(words), binned_white(words);
  std::vector<uint32_t> list(static_cast<size_t>(in.integer(0, 20)));
  for (auto& p : list) p = static_cast<uint32_t>(in.range(0, 2 * int64_t{refs.W} * refs.H + 5));
  ucap::flow::ChainInputs inputs;
  inputs.tables = &tables();
  inputs.references = refs.view();
  inputs.binned_black = binned_black.data();
  inputs.binned_white = binned_white.data();
  inputs.binned_capacity = words;
  inputs.blemishes = in.flag() ? list.data() : nullptr;
  inputs.blemish_count = static_cast<int32_t>(list.size());
  inputs.color_matrix = in.flag();
  inputs.services = &ucap::library_services();
  ucap::flow::process_frame(plan, reinterpret_cast<uint8_t*>(frame.data()), 2 * words, out.data(),
                            inputs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Three threads split the bands even on a machine of fewer cores.
  static const int threads = setenv("UCAP_THREADS", "3", 0);
  (void)threads;
  Input in(data, size);
  switch (in.integer(0, 6)) {
    case 0: raw_stages(in); break;
    case 1: reference_correction(in); break;
    case 2: binned_references(in); break;
    case 3: frame_stages(in); break;
    case 4: interpolators(in); break;
    case 5: banded(in); break;
    default: chain(in); break;
  }
  return 0;
}
