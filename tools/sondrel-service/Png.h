#pragma once
// A minimal PNG encoder (8-bit RGB, no interlace) for the captcha pictures.

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // width * height * 3, row by row

    RgbImage(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b);
    void set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
};

// The PNG file bytes, or an empty string when compression fails.
std::string encodePng(const RgbImage& image);

} // namespace standin
