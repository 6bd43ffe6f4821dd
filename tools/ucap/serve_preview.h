// What the live page sees of a frame: its histograms, the automatic display range, the focus
// figure, and the 8-bit JPEG preview of a part of it scaled down to the page's size.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

// One image of the stream at full resolution: grey words, or red, green, blue words per pixel.
struct Image {
  int width = 0, height = 0, channels = 1;
  std::vector<uint16_t> words;
};

// A rectangle of image pixels, right and bottom exclusive.
struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct ImageStats {
  // Per color (one for grey), 256 bins of 16 counts each over 0..4095.
  std::vector<std::array<uint32_t, 256>> histogram;
  int low = 0, high = 4095;  // the 0.5 % and 99.5 % points of all colors together
  double sharpness = 0;      // focus figure over the focus region
  uint64_t saturated = 0;    // samples at 4095
};

// The focus figure: the variance of the 4-neighbour Laplacian of the green (or grey) words
// inside `region` (clipped to the image; 0 when less than 3 x 3 remain). It is largest when
// the image is sharpest.
double sharpness(const Image& image, Box region);

ImageStats analyse(const Image& image, Box focus_region);

struct PreviewRequest {
  Box crop;                                // part of the image shown (clipped to the image)
  int max_width = 1024, max_height = 768;  // the page's size: the crop is shrunk to fit
  int low = 0, high = 4095;                // counts shown black and white
  bool mark_saturated = true;  // pixels that reach 4095 in a color drawn in the warning color
  int quality = 80;
};

struct Preview {
  std::string jpeg;
  int width = 0, height = 0;  // of the JPEG
  int scale = 1;              // image pixels per preview pixel along each axis
  Box crop;                   // what the preview shows, in image pixels
};

// Crops, averages scale x scale blocks (the smallest whole scale that fits the page), maps
// low..high to 0..255 and encodes a JPEG. Throws std::runtime_error when the encoder fails.
Preview render_preview(const Image& image, const PreviewRequest& request);

}  // namespace tool
