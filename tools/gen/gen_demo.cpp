// Writes the demo piece: the "Ode to Joy" theme of Beethoven's ninth
// symphony (public domain), arranged for General MIDI playback: melody,
// bass, strings, an arpeggio and drums, the theme twice with a change of
// lead sound.  gen_demo FILE
#include <cstdio>
#include <vector>

#include "render/smf.h"

namespace {

constexpr int Q = 480; // ticks per quarter note
constexpr int BAR = 4 * Q;

struct note {
  int key;   // 0: rest
  int ticks;
};

// The theme: 16 bars in C major.
const std::vector<note> THEME = {
    {64, Q}, {64, Q}, {65, Q}, {67, Q}, {67, Q}, {65, Q}, {64, Q}, {62, Q},
    {60, Q}, {60, Q}, {62, Q}, {64, Q}, {64, Q + Q / 2}, {62, Q / 2}, {62, 2 * Q},
    {64, Q}, {64, Q}, {65, Q}, {67, Q}, {67, Q}, {65, Q}, {64, Q}, {62, Q},
    {60, Q}, {60, Q}, {62, Q}, {64, Q}, {62, Q + Q / 2}, {60, Q / 2}, {60, 2 * Q},
    {62, Q}, {62, Q}, {64, Q}, {60, Q}, {62, Q}, {64, Q / 2}, {65, Q / 2}, {64, Q}, {60, Q},
    {62, Q}, {64, Q / 2}, {65, Q / 2}, {64, Q}, {62, Q}, {60, Q}, {62, Q}, {55, 2 * Q},
    {64, Q}, {64, Q}, {65, Q}, {67, Q}, {67, Q}, {65, Q}, {64, Q}, {62, Q},
    {60, Q}, {60, Q}, {62, Q}, {64, Q}, {62, Q + Q / 2}, {60, Q / 2}, {60, 2 * Q},
};
// One chord root per bar (C or G), the last bars of each phrase resolving.
const int ROOTS[16] = {0, 7, 0, 7, 0, 7, 0, 0, 7, 0, 7, 7, 0, 7, 0, 0};

void on_off(smf_track &t, int ch, std::uint64_t at, int len, int key, int vel) {
  t.add(at, {static_cast<unsigned char>(0x90 | ch), static_cast<unsigned char>(key),
             static_cast<unsigned char>(vel)});
  t.add(at + static_cast<std::uint64_t>(len) - 10,
        {static_cast<unsigned char>(0x80 | ch), static_cast<unsigned char>(key), 0});
}

void program(smf_track &t, int ch, std::uint64_t at, int prog) {
  t.add(at, {static_cast<unsigned char>(0xC0 | ch), static_cast<unsigned char>(prog)});
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_demo FILE\n");
    return 2;
  }
  smf_track conductor, melody, bass, strings, arp, drums;
  conductor.tempo(0, 555556); // 108 beats per minute
  program(melody, 0, 0, 0);   // Grand Piano
  program(bass, 1, 0, 33);    // Synth Bass
  program(strings, 2, 0, 48); // Warm Strings
  program(arp, 3, 0, 25);     // Nylon Pluck
  const std::uint64_t intro = BAR;
  // Intro: the drums alone count in.
  for (int b = 0; b < 4; ++b)
    on_off(drums, 9, static_cast<std::uint64_t>(b * Q), Q, 42, 70 + 10 * (b == 0));
  for (int pass = 0; pass < 2; ++pass) {
    const std::uint64_t start = intro + static_cast<std::uint64_t>(pass) * 16 * BAR;
    if (pass == 1) {
      program(melody, 0, start - 20, 30); // Drive Lead, through the saturator
      melody.add(start - 10, {0xB0, 1, 40}); // a little modulation
    }
    std::uint64_t at = start;
    for (const note &n : THEME) {
      if (n.key)
        on_off(melody, 0, at, n.ticks, n.key + (pass ? 12 : 0), pass ? 100 : 90);
      at += static_cast<std::uint64_t>(n.ticks);
    }
    for (int b = 0; b < 16; ++b) {
      const std::uint64_t bar = start + static_cast<std::uint64_t>(b) * BAR;
      const int root = ROOTS[b];
      on_off(bass, 1, bar, Q + Q / 2, 36 + root, 100);
      on_off(bass, 1, bar + 2 * Q, Q, 36 + root, 90);
      on_off(bass, 1, bar + 3 * Q, Q, 43 + root - (root ? 12 : 0), 85);
      const int triad[3] = {root ? 47 : 48, root ? 50 : 52, root ? 55 : 55};
      for (int k : triad)
        on_off(strings, 2, bar, BAR, k, 70);
      if (pass == 1)
        for (int s = 0; s < 8; ++s)
          on_off(arp, 3, bar + static_cast<std::uint64_t>(s) * Q / 2, Q / 2,
                 triad[s % 3] + 12 + (s >= 3 ? 12 : 0), 60 + (s % 2) * 15);
      // Drums: kick on 1 and 3, snare on 2 and 4, hi-hats in eighths.
      on_off(drums, 9, bar, Q, 36, 110);
      on_off(drums, 9, bar + 2 * Q, Q, 36, 100);
      on_off(drums, 9, bar + Q, Q, 38, 95);
      on_off(drums, 9, bar + 3 * Q, Q, 38, 100);
      for (int h = 0; h < 8; ++h)
        on_off(drums, 9, bar + static_cast<std::uint64_t>(h) * Q / 2, Q / 2,
               (b % 4 == 3 && h == 7) ? 46 : 42, h % 2 ? 60 : 80);
      if (b == 0)
        on_off(drums, 9, bar, 2 * Q, 49, 100);
      if (b % 4 == 3 && pass == 1)
        on_off(drums, 9, bar + 3 * Q, Q, 45, 90);
    }
  }
  const std::uint64_t end = intro + 32 * BAR;
  on_off(melody, 0, end, 2 * BAR, 60, 90); // the final chord, rung out
  on_off(strings, 2, end, 2 * BAR, 48, 80);
  on_off(strings, 2, end, 2 * BAR, 52, 80);
  on_off(strings, 2, end, 2 * BAR, 55, 80);
  on_off(bass, 1, end, 2 * BAR, 36, 100);
  on_off(drums, 9, end, 2 * BAR, 49, 110);
  on_off(drums, 9, end, Q, 36, 110);
  const auto image = smf_image(1, Q, {conductor, melody, bass, strings, arp, drums});
  std::FILE *f = std::fopen(argv[1], "wb");
  if (!f)
    return 1;
  std::fwrite(image.data(), 1, image.size(), f);
  std::fclose(f);
  return 0;
}
