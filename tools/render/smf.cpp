// Standard MIDI File reader.
#include "render/smf.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

struct reader {
  const unsigned char *p, *end;
  bool ok = true;

  std::size_t left() const { return static_cast<std::size_t>(end - p); }
  int byte() {
    if (p >= end) {
      ok = false;
      return 0;
    }
    return *p++;
  }
  std::uint32_t be(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v = v << 8 | static_cast<std::uint32_t>(byte());
    return v;
  }
  // A variable-length quantity: at most four bytes.
  std::uint32_t varlen() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const int b = byte();
      v = v << 7 | static_cast<std::uint32_t>(b & 0x7F);
      if (!(b & 0x80))
        return v;
    }
    ok = false;
    return 0;
  }
};

int data_bytes(int status) {
  switch (status & 0xF0) {
  case 0xC0:
  case 0xD0: return 1;
  default: return 2;
  }
}

bool parse_track(reader r, int track, std::vector<smf_event> *out, std::string *err) {
  std::uint64_t tick = 0;
  int running = 0;
  while (r.left() > 0) {
    tick += r.varlen();
    if (!r.ok)
      break;
    int b = r.byte();
    smf_event ev{tick, track, {}, 0};
    if (b == 0xFF) { // meta event
      const int type = r.byte();
      const std::uint32_t len = r.varlen();
      if (!r.ok || len > r.left()) {
        r.ok = false;
        break;
      }
      if (type == 0x51 && len == 3) {
        ev.tempo = static_cast<std::uint32_t>(r.p[0]) << 16 | r.p[1] << 8 | r.p[2];
        if (ev.tempo > 0)
          out->push_back(ev);
      }
      r.p += len;
      if (type == 0x2F)
        return true; // end of track
      continue; // running status survives meta events, as many files expect
    }
    if (b == 0xF0 || b == 0xF7) { // system exclusive, or an escape
      const std::uint32_t len = r.varlen();
      if (!r.ok || len > r.left()) {
        r.ok = false;
        break;
      }
      ev.bytes.reserve(len + 1);
      if (b == 0xF0)
        ev.bytes.push_back(0xF0);
      for (std::uint32_t i = 0; i < len; ++i)
        ev.bytes.push_back(r.p[i]);
      r.p += len;
      if (!ev.bytes.empty())
        out->push_back(ev);
      running = 0;
      continue;
    }
    if (b < 0x80) { // running status: this is the first data byte
      if (!running) {
        *err = "data byte without a status byte in track " + std::to_string(track);
        return false;
      }
      --r.p;
      b = running;
    } else if (b >= 0xF1) {
      *err = "unexpected system byte in track " + std::to_string(track);
      return false;
    }
    running = b;
    ev.bytes.push_back(static_cast<unsigned char>(b));
    for (int i = 0; i < data_bytes(b); ++i) {
      const int d = r.byte();
      if (d >= 0x80) {
        *err = "status byte where data was expected in track " + std::to_string(track);
        return false;
      }
      ev.bytes.push_back(static_cast<unsigned char>(d));
    }
    if (!r.ok)
      break;
    out->push_back(ev);
  }
  if (!r.ok) {
    *err = "track " + std::to_string(track) + " ends in the middle of an event";
    return false;
  }
  return true; // a track without an end-of-track event is accepted
}

} // namespace

bool smf_parse(const unsigned char *data, std::size_t n, smf_file *out, std::string *err) {
  reader r{data, data + n};
  if (n < 14 || r.be(4) != 0x4D546864) { // "MThd"
    *err = "not a Standard MIDI File (no MThd header)";
    return false;
  }
  const std::uint32_t hlen = r.be(4);
  if (hlen < 6 || hlen > r.left()) {
    *err = "bad header length";
    return false;
  }
  out->format = static_cast<int>(r.be(2));
  out->ntracks = static_cast<int>(r.be(2));
  const auto div = static_cast<std::uint16_t>(r.be(2));
  r.p += hlen - 6;
  if (out->format > 1) {
    *err = "format " + std::to_string(out->format) + " is not supported (only 0 and 1)";
    return false;
  }
  if (div & 0x8000) { // SMPTE: frames per second and ticks per frame
    const int fps = -static_cast<std::int8_t>(div >> 8);
    const int tpf = div & 0xFF;
    if (fps <= 0 || tpf == 0) {
      *err = "bad time division";
      return false;
    }
    out->division = -(fps * tpf); // ticks per second, negated
  } else {
    if (div == 0) {
      *err = "bad time division";
      return false;
    }
    out->division = div;
  }
  out->events.clear();
  int found = 0;
  while (r.left() >= 8) {
    const std::uint32_t id = r.be(4), len = r.be(4);
    if (len > r.left()) {
      *err = "truncated chunk";
      return false;
    }
    if (id == 0x4D54726B) { // "MTrk"
      if (!parse_track(reader{r.p, r.p + len}, found, &out->events, err))
        return false;
      ++found;
    }
    r.p += len;
  }
  if (r.left() > 0 && found < out->ntracks) {
    *err = "truncated chunk";
    return false;
  }
  if (found < out->ntracks) {
    *err = "file holds " + std::to_string(found) + " of " + std::to_string(out->ntracks) +
           " tracks";
    return false;
  }
  std::stable_sort(out->events.begin(), out->events.end(),
                   [](const smf_event &a, const smf_event &b) { return a.tick < b.tick; });
  return true;
}

bool smf_read(const std::string &path, smf_file *out, std::string *err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = path + ": cannot open";
    return false;
  }
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (!smf_parse(data.data(), data.size(), out, err)) {
    *err = path + ": " + *err;
    return false;
  }
  return true;
}

std::vector<std::uint64_t> smf_frames(const smf_file &f, int rate) {
  std::vector<std::uint64_t> frames;
  frames.reserve(f.events.size());
  // Time in microseconds times the division, kept exact.
  unsigned __int128 acc = 0;
  std::uint64_t last = 0;
  std::uint32_t tempo = 500000;
  const unsigned __int128 div =
      f.division > 0 ? static_cast<unsigned>(f.division) : static_cast<unsigned>(-f.division);
  for (const smf_event &e : f.events) {
    const std::uint64_t dt = e.tick - last;
    last = e.tick;
    // SMPTE timing: a tick is 1/div second whatever the tempo.
    acc += static_cast<unsigned __int128>(dt) * (f.division > 0 ? tempo : 1000000u);
    frames.push_back(static_cast<std::uint64_t>((acc * static_cast<unsigned>(rate) + div * 500000) /
                                                (div * 1000000)));
    if (e.tempo)
      tempo = e.tempo;
  }
  return frames;
}

namespace {
void put_varlen(std::vector<unsigned char> &o, std::uint64_t v) {
  unsigned char tmp[10];
  int n = 0;
  tmp[n++] = static_cast<unsigned char>(v & 0x7F);
  while (v >>= 7)
    tmp[n++] = static_cast<unsigned char>(0x80 | (v & 0x7F));
  while (n)
    o.push_back(tmp[--n]);
}
void put_be(std::vector<unsigned char> &o, std::uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i)
    o.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
} // namespace

std::vector<unsigned char> smf_image(int format, int division, const std::vector<smf_track> &tracks) {
  std::vector<unsigned char> o = {'M', 'T', 'h', 'd'};
  put_be(o, 6, 4);
  put_be(o, static_cast<std::uint32_t>(format), 2);
  put_be(o, static_cast<std::uint32_t>(tracks.size()), 2);
  put_be(o, static_cast<std::uint32_t>(division), 2);
  for (const smf_track &t : tracks) {
    auto ev = t.events;
    std::stable_sort(ev.begin(), ev.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<unsigned char> d;
    std::uint64_t last = 0;
    for (const auto &e : ev) {
      put_varlen(d, e.first - last);
      last = e.first;
      if (!e.second.empty() && e.second[0] == 0xF0) {
        d.push_back(0xF0);
        put_varlen(d, e.second.size() - 1);
        d.insert(d.end(), e.second.begin() + 1, e.second.end());
      } else {
        d.insert(d.end(), e.second.begin(), e.second.end());
      }
    }
    d.insert(d.end(), {0x00, 0xFF, 0x2F, 0x00});
    o.insert(o.end(), {'M', 'T', 'r', 'k'});
    put_be(o, static_cast<std::uint32_t>(d.size()), 4);
    o.insert(o.end(), d.begin(), d.end());
  }
  return o;
}
