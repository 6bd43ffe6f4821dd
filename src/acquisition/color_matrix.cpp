#include <algorithm>

#include "acquisition/frame_stages.h"
#include "core/record.h"

namespace ucap {

void ApplyColorMatrix(const ColorTables& tables, int32_t enabled, uint16_t* pixels,
                      int32_t count) {
  if (enabled == 0 || count <= 0 || pixels == nullptr) return;
  const uint16_t* T[9];
  for (int k = 0; k < 9; ++k) T[k] = tables.term[k];
  const uint16_t* F = tables.output;
  // Values above 12 bits count as full scale; sums past the output table as its last entry.
  constexpr uint32_t kLastSum = kOutputTableSize - 1;
  for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
    uint16_t* px = pixels + 3 * i;
    const uint32_t b = std::min<uint32_t>(px[0], kMaxSample);
    const uint32_t g = std::min<uint32_t>(px[1], kMaxSample);
    const uint32_t r = std::min<uint32_t>(px[2], kMaxSample);
    const uint32_t sr = std::min<uint32_t>(T[0][r] + T[1][g] + T[2][b], kLastSum);
    const uint32_t sg = std::min<uint32_t>(T[3][r] + T[4][g] + T[5][b], kLastSum);
    const uint32_t sb = std::min<uint32_t>(T[6][r] + T[7][g] + T[8][b], kLastSum);
    px[2] = F[sr];
    px[1] = F[sg];
    px[0] = F[sb];
  }
}

void ApplyColorMatrix(CameraRecord& cam, uint16_t* pixels, int32_t count) {
  ApplyColorMatrix(cam.tables, cam.colour_processing.load(), pixels, count);
}

}  // namespace ucap
