// rev_rooms.h - the room-configuration records of the reverb, from an
// image-source model of three rectangular rooms.
#pragma once

#include <cstdint>

constexpr int REV_NROOMS = 255; // 3 sizes x 17 pan positions x 5 distances
constexpr int REV_ROOMLEN = 284;

// Fills all records: rooms[(size * 17 + pan) * 5 + dist][0 ... 283].
void rev_rule_rooms(std::int32_t rooms[REV_NROOMS][REV_ROOMLEN]);
