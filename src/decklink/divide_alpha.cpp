#include "decklink/divide_alpha.h"

namespace orvex::decklink {

void DivideByAlpha(std::uint8_t* bgra, int width, int height, std::int64_t row_bytes) {
    if (!bgra || width <= 0 || height <= 0) return;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bgra + row_bytes * y;
        for (int x = 0; x < width; ++x, p += 4) {
            const unsigned a = p[3];
            if (a == 0) continue;
            for (int c = 0; c < 3; ++c) {
                const unsigned v = (p[c] * 256u + a / 2) / a;
                p[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
            }
        }
    }
}

}  // namespace orvex::decklink
