// Keying: a picture with straight alpha goes to the card premultiplied the other way round.
#pragma once

#include <cstdint>

namespace orvex::decklink {

// Divides the colour of every BGRA pixel by its alpha in place (C * 256 / A, rounded half
// away from zero, at most 255); pixels with A = 0 and the alpha itself stay.
void DivideByAlpha(std::uint8_t* bgra, int width, int height, std::int64_t row_bytes);

}  // namespace orvex::decklink
