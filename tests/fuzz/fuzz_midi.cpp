// The synthesizer's MIDI byte parser through its module table, on a small
// instrument written at start-up: any bytes, cut into pieces that alternate
// with run calls.  Every output sample is read into a checksum (so that the
// sanitizers see every value); the note accounting must add up; MIDI and
// run allocate nothing; once every channel is reset, every voice and event
// is back in its pool.
//
// Input: byte 0 sets the controls (bits 0-2 patch, 3-4 hold mode, 5 volume
// 0, 6 reverb 0, 7 chorus 0), byte 1 the rate (bits 0-1: 3 for 44100 Hz,
// else 8000 Hz) and program changes (bit 2); then chunks of a header byte
// h and h & 31 MIDI bytes, after which FRAMES[h >> 5] frames are run (at
// most MAX_FRAMES per input).
//
// Starting an instance costs far more than an input (the reverb's delay
// lines, the pools), so one started instance per rate serves every input
// and is put back as new before each: channels, parser, tuning and the
// programs mode cleared, the synth's and saturator's controls sent, the chorus put back
// as its start left it (its reset keeps its memory), every effect reset.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "chorus/cho.h"
#include "platform/os.h"
#include "saturator/sat.h"
#include "synth/note/synth.h"
#include "utils/alloc.h"

namespace {

// Few frames keep it fast: at 8000 Hz the instrument's envelope segments
// and LFO steps last a few to a few dozen frames (a glide's 800 frames are
// left to the unit tests).
constexpr int BLOCK = 32;
constexpr int MAX_FRAMES = 128;
constexpr int FRAMES[8] = {0, 1, 2, 5, 8, 16, 33, 64};
constexpr int NRATES = 2;
constexpr int RATES[NRATES] = {0, 7}; // 8000, 44100 Hz

// Every layer option the engine plays: filters, envelopes with endless and
// immediate releases, all LFO shapes and a tempo-locked one, modulators
// from every source (some large enough to push values to their limits),
// velocity layers, start delays, the saturator chain, cut keys, drum keys,
// looping and one-shot waves.
const char *const CONF = R"(
wav tone {
  map key = 0:63 { data "tone.raw"
    pitch 60
    loop 480
  }
  map key = 64:127 { data "short.raw"
    pitch 72
  }
}
wav flat {
  map vel = 0:63 { data "short.raw"
  }
  map vel = 64:127 { data "tone.raw"
    loop 100
  }
}
patch 0 "Layers" {
  layer a {
    wav tone
    filt lowpass
    cut.base 90
    res.base 100
    res.ilevel 20
    res.atime 30
    res.rtime 127
    cut.lfo 24
    cut.lfotime 20
    cut.lfotype rand
    cat.cut.base 16
    mod.res.base 8
    vol.rtime 40
    shape 0 20 90 127
  }
  layer b {
    wav flat
    delay 3
    filt peak
    pan.lfo 1
    pan.lfotype gauss
    pan.lfoticks 6
    vol.ilevel -127
    vol.atime 20
    vol.dtime 30
    vol.dlevel -20
    vol.rtime 127
    shape 60 100 127 127
  }
}
patch 1 "Chain" {
  fx sat {
    level 127
    wave_shape hard_66
  }
  layer a {
    wav tone
    output fx
    filt bandrej
    res.base 127
    pitch.lfo 2
    pitch.lfotype randpeak
    pitch.rtime -1
    pitch.rlevel -12
    vol.rtime 30
  }
}
patch 2 "Extremes" {
  tempo 480
  ckey 60
  layer a {
    wav tone
    filt highpass
    cat.pitch.base 256
    bend.cut.base 256
    cat.cut.lfotype randpeak
    vol.lfo 8
    vol.lfotype randbin
    pan.ilevel 64
    pan.atime 10
    pan.rtime 127
    vol.rtime 20
  }
  layer b {
    wav flat
    filt bandpass
    release never
    expr.pan.base -256
    vel.res.base 256
    cut.lfotype dirac
    cut.lfo 40
    delay 48
  }
}
drumkey 36 {
  layer a {
    wav flat
  }
}
drumkey 38 {
  ckey 36
  layer a {
    wav tone
    key.pitch.base 64
  }
}
)";

std::string g_dir;

void put(const std::string &rel, const std::string &bytes) {
  const std::string path = g_dir + "/Glimra/Synth/data/" + rel;
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    std::abort();
  std::fclose(f);
}

std::string raw(int n, int step) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const int v = (i * step) % 60000 - 30000; // a loud saw
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  }
  return s;
}

void cleanup() {
  for (const char *rel : {"/Glimra/Synth/data/midisyn.conf", "/Glimra/Synth/data/tone.raw",
                          "/Glimra/Synth/data/short.raw"})
    std::remove((g_dir + rel).c_str());
  for (const char *rel : {"/Glimra/Synth/data", "/Glimra/Synth", "/Glimra"})
    rmdir((g_dir + rel).c_str());
  rmdir(g_dir.c_str());
}

int g_npatch = 0, g_nsat = 0;
int g_def[64];              // every control's default
synth *g_inst[NRATES];
cho_voice g_cho[NRATES][8]; // the chorus voices as start leaves them
volatile std::uint64_t g_sum = 0;

// The instance of rate k as a new one after start and every control sent
// with its default: the reverb's and chorus's controls, which no input
// changes, were sent once at set-up.
synth *fresh(int k) {
  synth *s = g_inst[k];
  for (int c = 0; c < SYNTH_CHANNELS; ++c) {
    synth_chan_reset(s, c);
    synth_chan &ch = s->chan[c];
    ch.pan = ch.volume = ch.patch = ch.reverb = ch.chorus = 0;
  }
  if (s->nnotes != 0 || s->tones.used != 0 || s->hooks.used != 0)
    std::abort(); // a voice, event or note was not given back
  s->midi_status = s->midi_running = s->midi_count = s->midi_need = 0;
  for (std::int32_t &t : s->tune)
    t = 0;
  s->nkilled = 0;
  s->programs = SYNTH_PATCHCTL;
  s->patchctl = -1;
  synth_fx *sat = s->sat;
  sat->level = sat->revsend = sat->chosend = 0;
  sat->level_q = sat->revsend_q = sat->chosend_q = 0;
  auto *cho = static_cast<cho_inst *>(s->cho->inst);
  std::memcpy(cho->voice, g_cho[k], sizeof cho->voice);
  std::memset(cho->mem, 0, sizeof(std::int32_t) * CHO_MEMLEN);
  cho->wpos = 0;
  for (int i = 0; i < SYNTH_OWNCTLS + g_nsat; ++i)
    SYNTH_MODULE.onctl(s, i, g_def[i]);
  return s;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/fuzz_midi.XXXXXX";
  if (!mkdtemp(tmpl))
    std::abort();
  g_dir = tmpl;
  for (const char *rel : {"/Glimra", "/Glimra/Synth", "/Glimra/Synth/data"})
    mkdir((g_dir + rel).c_str(), 0700);
  put("midisyn.conf", CONF);
  put("tone.raw", raw(480, 1250));
  put("short.raw", raw(100, 4000));
  setenv("PROGRAMFILES", g_dir.c_str(), 1);
  setenv("APPDATA", g_dir.c_str(), 1); // no log folder: logging stays off
  os_set_default_root("");
  SYNTH_MODULE.init();
  cleanup(); // the definition and its waves are read: the files can go
  orka_info info{};
  SYNTH_MODULE.info(&info);
  if (info.nctls > 64)
    std::abort();
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(i, &ci);
    g_def[i] = ci.def;
  }
  orka_info sat{};
  SAT_MODULE.info(&sat);
  g_nsat = sat.nctls;
  orka_ctlinfo ci{};
  SYNTH_MODULE.ctlinfo(0, &ci);
  g_npatch = ci.nvals;
  if (g_npatch != 4) // the three patches and the drum kit: the definition loaded
    std::abort();
  for (int k = 0; k < NRATES; ++k) {
    synth *s = static_cast<synth *>(SYNTH_MODULE.new_(nullptr, nullptr));
    if (!SYNTH_MODULE.start(s, RATES[k], BLOCK))
      std::abort();
    for (int i = 0; i < info.nctls; ++i)
      SYNTH_MODULE.onctl(s, i, g_def[i]);
    std::memcpy(g_cho[k], static_cast<cho_inst *>(s->cho->inst)->voice, sizeof g_cho[k]);
    g_inst[k] = s;
  }
  std::atexit([] {
    for (synth *s : g_inst)
      SYNTH_MODULE.del(s);
    SYNTH_MODULE.done();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2)
    return 0;
  rnd_state = 12345;
  const int k = (data[1] & 3) == 3 ? 1 : 0;
  synth *s = fresh(k);
  SYNTH_MODULE.onctl(s, synth_programs_ctl(), (data[1] >> 2) & 1);
  SYNTH_MODULE.onctl(s, 0, (data[0] & 7) % g_npatch);
  SYNTH_MODULE.onctl(s, 5, ((data[0] >> 3) & 3) % 3);
  if (data[0] & 0x20)
    SYNTH_MODULE.onctl(s, 1, 0);
  if (data[0] & 0x40)
    SYNTH_MODULE.onctl(s, 3, 0);
  if (data[0] & 0x80)
    SYNTH_MODULE.onctl(s, 4, 0);
  SYNTH_MODULE.reset(s);
  const std::size_t blocks = xmem_count();

  static std::int32_t left[64], right[64];
  std::int32_t *out[2] = {left, right};
  std::uint64_t sum = 0;
  int frames = 0;
  std::size_t at = 2;
  while (at < size) {
    const int h = data[at++];
    int n = h & 31;
    if (static_cast<std::size_t>(n) > size - at)
      n = static_cast<int>(size - at);
    SYNTH_MODULE.midi(s, data + at, n);
    at += static_cast<std::size_t>(n);
    int m = FRAMES[h >> 5];
    if (frames + m > MAX_FRAMES)
      m = MAX_FRAMES - frames;
    if (m <= 0)
      continue;
    for (int i = 0; i < m; ++i)
      left[i] = right[i] = 0;
    SYNTH_MODULE.run(s, nullptr, out, m);
    frames += m;
    for (int i = 0; i < m; ++i)
      sum = sum * 31 + static_cast<std::uint32_t>(left[i]) + (std::uint64_t{static_cast<std::uint32_t>(right[i])} << 32);
  }
  g_sum = g_sum + sum;

  int listed = 0;
  for (const synth_chan &ch : s->chan)
    for (const note *n = ch.list; n; n = n->next)
      ++listed;
  if (listed != s->nnotes || s->nnotes > s->maxnotes)
    std::abort(); // the note count went astray
  if (xmem_count() != blocks)
    std::abort(); // MIDI or run allocated
  return 0;
}
