#pragma once
// A tiny built-in bitmap font (5 × 7 pixels per glyph, one column of spacing), so that the
// overview sheet needs no font installed on the system and looks the same everywhere.

#include <cstdint>
#include <string>

namespace vorada {
namespace view {

constexpr int glyph_width = 5;
constexpr int glyph_height = 7;
constexpr int glyph_advance = 6;

/// Whether pixel (x, y) of the glyph of `c` is set; characters without a glyph are blank.
bool glyph_pixel(char c, int x, int y);

/// Width in pixels of `text` drawn at `scale`.
inline int text_width(const std::string& text, int scale) {
    return text.empty() ? 0 : (static_cast<int>(text.size()) * glyph_advance - 1) * scale;
}

/// Draws `text` with its top-left corner at (x, y) into an RGB buffer of `width` × `height`
/// (3 bytes per pixel, rows in order), each font pixel a square of `scale` pixels; clipped.
void draw_text(std::uint8_t* rgb,
               int width,
               int height,
               int x,
               int y,
               const std::string& text,
               int scale,
               const std::uint8_t color[3]);

}  // namespace view
}  // namespace vorada
