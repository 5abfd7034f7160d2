// fixed.h - 32-bit fixed-point arithmetic shared by the engine and effects.
//
// Audio values saturate at the 32-bit range when a sum or a shifted product
// leaves it; wrapping is kept only for quantities that are defined modulo
// 2^32 (phases, ring positions, the random generator).  Every function is
// defined for every input: no signed overflow, arithmetic right shifts.
#pragma once

#include <cstdint>
#include <limits>

// A 64-bit value clamped to the 32-bit range.
constexpr std::int32_t q32_sat(std::int64_t v) {
  constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v < lo ? lo : v > hi ? hi : v);
}

// Saturating sum of an audio value and a contribution; b may hold any
// value a product shifted back to 32-bit scale can have.
constexpr std::int32_t q32_adds(std::int32_t a, std::int64_t b) {
  if (b > std::numeric_limits<std::int32_t>::max())
    b = std::numeric_limits<std::int32_t>::max();
  else if (b < std::numeric_limits<std::int32_t>::min())
    b = std::numeric_limits<std::int32_t>::min();
  return q32_sat(std::int64_t{a} + b);
}

// Wrapping sum and difference, for quantities defined modulo 2^32.
constexpr std::int32_t q32_addw(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t q32_subw(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// (a * b) >> shift with the product in 64 bits (rounding toward minus
// infinity), saturated to 32 bits.
constexpr std::int32_t q32_mul(std::int32_t a, std::int32_t b, int shift) {
  return q32_sat((std::int64_t{a} * b) >> shift);
}

// v / 2^shift rounded toward zero, saturated to 32 bits.  A value that
// decays through such steps shrinks in magnitude every time and so reaches
// exactly 0, where rounding toward minus infinity would leave it at -1.
constexpr std::int32_t q32_shz(std::int64_t v, int shift) {
  return q32_sat((v + (v < 0 ? (std::int64_t{1} << shift) - 1 : 0)) >> shift);
}
// (a * b) / 2^shift with the product in 64 bits, rounded toward zero and
// saturated to 32 bits.
constexpr std::int32_t q32_mulz(std::int32_t a, std::int32_t b, int shift) {
  return q32_shz(std::int64_t{a} * b, shift);
}
