// Conversions between linear light and the sRGB display encoding (IEC 61966-2-1 curve).
#pragma once

#include <cstdint>
#include <span>

namespace KorvoHost {

// Display value 0..1 to linear light; values outside 0..1 (and NaN) are clamped.
float SrgbToLinear(float display);

// Linear light to display value 0..1; clamped, NaN gives 0.
float LinearToSrgb(float linear);

// Linear light to an 8-bit display value, clamped and rounded to nearest exactly as
// round(255 · LinearToSrgb(linear)) would, but without a power function per value.
std::uint8_t EncodeSrgb8(float linear);

// Float linear RGBA pixels to 8-bit RGBA: colour sRGB-encoded, alpha scaled linearly. Converts
// min(linearRgba.size(), rgba8.size()) values.
void EncodeSrgb8Rgba(std::span<const float> linearRgba, std::span<std::uint8_t> rgba8);

}  // namespace KorvoHost
