// Room configurations by an image-source model.
//
// Tap 0 is the direct sound: a rotation of the stereo image in the mid/side
// plane whose width narrows with distance (tan theta = 2 / (2 + dist)) and
// which leans toward the source's side; the far ear hears it late by up to
// the room size's largest inter-aural delay.  Taps 1-6 are the first-order
// and taps 7-24 the second-order images of the source in the walls of a
// rectangular room, delayed by their extra path to each ear, weakened by
// distance and absorption, and placed by their direction as the direct
// sound is.  Each stage's delays are then spread onto the room size's
// span of reflection delays.
#include "gen/rev_rooms.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "gen/rev_rules.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double SOUND = 343.0; // m/s

struct room_size {
  double w, l, h;          // room dimensions in metres (x right, y front, z up)
  double r0, k;            // source distance r0 (1 + k dist) metres
  double itd;              // largest delay of the far ear for tap 0, seconds
  double s1lo, s1hi, s2lo, s2hi; // spans of the stage delays, seconds
  double ref;              // reference delay of the absorption filters, seconds
  double kdist;            // dist_corr = 1 / (1 + kdist dist)
};

constexpr room_size SIZES[3] = {
    {5.0, 4.2, 2.8, 1.0, 0.35, 0.000759, 0.00446, 0.01798, 0.00796, 0.03162, 0.013473, 0.25},
    {10.0, 8.0, 3.6, 1.5, 0.40, 0.001599, 0.00289, 0.03270, 0.01551, 0.06353, 0.025093, 0.2935},
    {17.0, 13.0, 6.0, 2.0, 0.45, 0.002579, 0.00194, 0.04874, 0.02205, 0.09548, 0.036713, 0.30},
};

constexpr double LEAN = 0.229;              // level shift toward the source's side
constexpr double TURN = 18.3 * PI / 180.0;  // rotation toward the source's side

// The four mid/side gains of a sound placed at u (-1 left ... +1 right) with
// image width theta.
std::array<double, 4> place(double u, double theta) {
  double gl = std::sqrt(1.0 - u * LEAN), gr = std::sqrt(1.0 + u * LEAN);
  return {gl * std::cos(theta + u * TURN), gr * std::cos(theta - u * TURN),
          gl * std::sin(theta + u * TURN), -gr * std::sin(theta - u * TURN)};
}

struct vec {
  double x, y, z;
};
double dist(vec a, vec b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }

struct image {
  vec pos;
  int order;
};

// Reflection of coordinate c in the wall at 0 (side 0) or at size (side 1).
double mirror(double c, double size, int side) { return side ? 2 * size - c : -c; }

std::vector<image> images(vec s, const room_size &r) {
  std::vector<image> out;
  const double dims[3] = {r.w, r.l, r.h};
  auto coord = [](vec &v, int a) -> double & { return a == 0 ? v.x : (a == 1 ? v.y : v.z); };
  for (int a = 0; a < 3; ++a)
    for (int side = 0; side < 2; ++side) {
      vec v = s;
      coord(v, a) = mirror(coord(v, a), dims[a], side);
      out.push_back({v, 1});
    }
  // Two reflections in the same pair of walls, then in two different axes.
  for (int a = 0; a < 3; ++a)
    for (int first = 0; first < 2; ++first) {
      vec v = s;
      coord(v, a) = mirror(mirror(coord(v, a), dims[a], first), dims[a], 1 - first);
      out.push_back({v, 2});
    }
  for (int a = 0; a < 3; ++a)
    for (int b = a + 1; b < 3; ++b)
      for (int sa = 0; sa < 2; ++sa)
        for (int sb = 0; sb < 2; ++sb) {
          vec v = s;
          coord(v, a) = mirror(coord(v, a), dims[a], sa);
          coord(v, b) = mirror(coord(v, b), dims[b], sb);
          out.push_back({v, 2});
        }
  return out;
}

struct tap {
  double da, db;
  std::array<double, 4> g;
};

// The 25 taps of one record, with stage delays not yet spread.
std::array<tap, 25> model(const room_size &r, int pan, int d) {
  std::array<tap, 25> taps{};
  const double u = (pan - 8) / 8.0;
  const double theta = std::atan(2.0 / (2.0 + d));
  taps[0].g = place(u, theta);
  taps[0].da = u > 0 ? u * r.itd : 0.0;
  taps[0].db = u < 0 ? -u * r.itd : 0.0;

  const vec listener = {r.w * 0.5, r.l * 0.35, r.h * 0.4};
  const double ear = r.itd * SOUND * 0.5;
  const vec left = {listener.x - ear, listener.y, listener.z};
  const vec right = {listener.x + ear, listener.y, listener.z};
  const double az = u * PI / 2;
  const double rs = r.r0 * (1.0 + r.k * d);
  vec src = {listener.x + rs * std::sin(az), listener.y + rs * std::cos(az), listener.z};
  src.x = std::clamp(src.x, 0.1, r.w - 0.1);
  src.y = std::clamp(src.y, 0.1, r.l - 0.1);
  const double direct = dist(src, listener);

  auto imgs = images(src, r);
  for (std::size_t i = 0; i < imgs.size(); ++i) {
    const image &im = imgs[i];
    tap &t = taps[1 + i];
    t.da = (dist(im.pos, left) - direct) / SOUND;
    t.db = (dist(im.pos, right) - direct) / SOUND;
    const double path = dist(im.pos, listener);
    const double w = (im.pos.x - listener.x) / path; // direction: -1 left ... +1 right
    const double amp = std::pow(0.8, im.order) / path * (im.order == 1 ? -1.0 : 1.0);
    auto g = place(w, PI / 4);
    for (int j = 0; j < 4; ++j)
      t.g[j] = amp * g[j];
  }
  // Reflections together carry the energy 2.0, as the direct sound does.
  double e = 0;
  for (int i = 1; i < 25; ++i)
    for (double g : taps[i].g)
      e += g * g;
  for (int i = 1; i < 25; ++i)
    for (double &g : taps[i].g)
      g *= std::sqrt(2.0 / e);
  return taps;
}

std::int32_t q27(double v) { return static_cast<std::int32_t>(std::llround(134217728.0 * v)); }

} // namespace

void rev_rule_rooms(std::int32_t rooms[REV_NROOMS][REV_ROOMLEN]) {
  for (int m = 0; m < 3; ++m) {
    const room_size &r = SIZES[m];
    std::vector<std::array<tap, 25>> recs;
    for (int p = 0; p < 17; ++p)
      for (int d = 0; d < 5; ++d)
        recs.push_back(model(r, p, d));
    // Spread each stage's delays onto the room size's span.
    for (int stage = 1; stage <= 2; ++stage) {
      const int first = stage == 1 ? 1 : 7, last = stage == 1 ? 7 : 25;
      double lo = 1e9, hi = -1e9;
      for (auto &t : recs)
        for (int i = first; i < last; ++i) {
          lo = std::min({lo, t[i].da, t[i].db});
          hi = std::max({hi, t[i].da, t[i].db});
        }
      const double a = stage == 1 ? r.s1lo : r.s2lo, b = stage == 1 ? r.s1hi : r.s2hi;
      for (auto &t : recs)
        for (int i = first; i < last; ++i) {
          t[i].da = a + (t[i].da - lo) * (b - a) / (hi - lo);
          t[i].db = a + (t[i].db - lo) * (b - a) / (hi - lo);
        }
    }
    for (int p = 0; p < 17; ++p)
      for (int d = 0; d < 5; ++d) {
        const auto &t = recs[static_cast<std::size_t>(p * 5 + d)];
        std::int32_t *rec = rooms[(m * 17 + p) * 5 + d];
        rec[0] = 1, rec[1] = 6, rec[2] = 18;
        double e1 = 0, e2 = 0;
        for (int i = 0; i < 25; ++i) {
          std::int32_t *v = rec + 3 + 6 * i;
          v[0] = q27(t[i].da);
          v[1] = q27(t[i].db);
          for (int j = 0; j < 4; ++j) {
            v[2 + j] = q27(t[i].g[j]);
            const double g = v[2 + j] / 134217728.0; // as stored
            if (i >= 7)
              e2 += g * g;
            else if (i >= 1)
              e1 += g * g;
          }
        }
        // The reflection curve: stage 1 scaled by rho and stage 2 by rho^2
        // carry x^2 of the reflections' full energy.
        for (int k = 0; k <= 128; ++k) {
          double x = k / 128.0;
          double rho2 = (-e1 + std::sqrt(e1 * e1 + 4 * e2 * (e1 + e2) * x * x)) / (2 * e2);
          rec[153 + k] = q27(std::sqrt(rho2));
        }
        rec[282] = rev_rule_logtime(r.ref);
        rec[283] = q27(1.0 / (1.0 + r.kdist * d));
      }
  }
}
