#include "CaptchaImage.h"

#include "Png.h"

#include <cstdint>

namespace standin {
namespace {

struct Glyph {
    char c;
    const char* rows[7];
};

// 5x7 glyphs of the captcha alphabet ("2345678abcdehkmnpqsuvxyz").
constexpr Glyph kGlyphs[] = {
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'a', {"     ", "     ", " ### ", "    #", " ####", "#   #", " ####"}},
    {'b', {"#    ", "#    ", "# ## ", "##  #", "#   #", "#   #", "#### "}},
    {'c', {"     ", "     ", " ### ", "#    ", "#    ", "#   #", " ### "}},
    {'d', {"    #", "    #", " ## #", "#  ##", "#   #", "#   #", " ####"}},
    {'e', {"     ", "     ", " ### ", "#   #", "#####", "#    ", " ### "}},
    {'h', {"#    ", "#    ", "# ## ", "##  #", "#   #", "#   #", "#   #"}},
    {'k', {"#    ", "#    ", "#  # ", "# #  ", "##   ", "# #  ", "#  # "}},
    {'m', {"     ", "     ", "## # ", "# # #", "# # #", "#   #", "#   #"}},
    {'n', {"     ", "     ", "# ## ", "##  #", "#   #", "#   #", "#   #"}},
    {'p', {"     ", "     ", "#### ", "#   #", "#### ", "#    ", "#    "}},
    {'q', {"     ", "     ", " ## #", "#  ##", " ####", "    #", "    #"}},
    {'s', {"     ", "     ", " ####", "#    ", " ### ", "    #", "#### "}},
    {'u', {"     ", "     ", "#   #", "#   #", "#   #", "#  ##", " ## #"}},
    {'v', {"     ", "     ", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'x', {"     ", "     ", "#   #", " # # ", "  #  ", " # # ", "#   #"}},
    {'y', {"     ", "     ", "#   #", "#   #", " ####", "    #", " ### "}},
    {'z', {"     ", "     ", "#####", "   # ", "  #  ", " #   ", "#####"}},
};

const Glyph* glyphFor(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) {
            return &g;
        }
    }
    return nullptr;
}

class Noise {
public:
    explicit Noise(const std::string& seed) {
        for (char c : seed) {
            state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        }
    }
    int next(int bound) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((state >> 33) % static_cast<std::uint64_t>(bound));
    }

private:
    std::uint64_t state = 1469598103934665603ULL;
};

} // namespace

std::string renderCaptchaPng(const std::string& key, const std::string& sid) {
    RgbImage image(kCaptchaWidth, kCaptchaHeight, 0xF2, 0xF4, 0xF7);
    Noise noise(sid + key);

    // Speckles behind the letters.
    for (int i = 0; i < 300; ++i) {
        image.set(noise.next(kCaptchaWidth), noise.next(kCaptchaHeight), 0xA0, 0xA8, 0xB8);
    }

    constexpr int kScale = 4;
    constexpr int kAdvance = 5 * kScale + 4;
    int x0 = (kCaptchaWidth - static_cast<int>(key.size()) * kAdvance + 4) / 2;
    for (char c : key) {
        const Glyph* glyph = glyphFor(c);
        const int y0 = (kCaptchaHeight - 7 * kScale) / 2 + noise.next(9) - 4;
        if (glyph != nullptr) {
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (glyph->rows[row][col] != '#') {
                        continue;
                    }
                    for (int dy = 0; dy < kScale; ++dy) {
                        for (int dx = 0; dx < kScale; ++dx) {
                            image.set(x0 + col * kScale + dx, y0 + row * kScale + dy, 0x2B, 0x4F,
                                      0x81);
                        }
                    }
                }
            }
        }
        x0 += kAdvance;
    }

    // Two thin wavy strokes across the text.
    for (int line = 0; line < 2; ++line) {
        int y = 10 + noise.next(kCaptchaHeight - 20);
        for (int x = 0; x < kCaptchaWidth; ++x) {
            if (noise.next(6) == 0) {
                y += noise.next(3) - 1;
            }
            image.set(x, y, 0x6A, 0x7F, 0x9E);
        }
    }
    return encodePng(image);
}

} // namespace standin
