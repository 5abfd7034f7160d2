// An installation written to a temporary folder for the benchmarks: two
// patches of four lowpass-filtered layers on a looped wave, patch 0 with
// one recording for every key, patch 1 with one per octave.
#pragma once

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/os.h"
#include "synth/note/synth.h"

// An installation with one four-layer patch, in a fresh temporary folder.
struct install {
  std::filesystem::path root;
  install() {
    root = std::filesystem::temp_directory_path() / ("glimra-bench-" + std::to_string(::getpid()));
    const auto data = root / "Glimra" / "Synth" / "data";
    std::filesystem::create_directories(data);
    std::string raw;
    for (int i = 0; i < 48000; ++i) {
      const auto v = static_cast<std::int16_t>(12000 * std::sin(i * 2 * 3.14159265358979 / 109.0));
      raw += static_cast<char>(v & 0xFF);
      raw += static_cast<char>((v >> 8) & 0xFF);
    }
    std::ofstream(data / "w.raw", std::ios::binary) << raw;
    // Wave w: one recording for every key.  Wave z: the same recording
    // once per octave, at the top of its zone, as instruments are built
    // so that no note plays far above its recording.
    std::string conf = "wav w {\nmap { data \"w.raw\"\nloop 47960\n}\n}\nwav z {\n";
    for (int top = 11; top < 128; top += 12)
      conf += "map key = " + std::to_string(top - 11) + ":" + std::to_string(top) +
              " { data \"w.raw\"\nloop 47960\npitch " + std::to_string(top) + "\n}\n";
    conf += "}\n";
    for (const char *w : {"w", "z"}) {
      conf += std::string("patch ") + (w[0] == 'w' ? "0" : "1") + " {\n";
      for (int l = 0; l < 4; ++l)
        conf += std::string("layer l {\nwav ") + w + "\nfilt lowpass\ncut.base 90\nres.base 30\ncut.lfo 12\n}\n";
      conf += "}\n";
    }
    std::ofstream(data / "midisyn.conf") << conf;
    setenv("PROGRAMFILES", root.string().c_str(), 1);
    setenv("APPDATA", root.string().c_str(), 1);
    os_set_default_root("");
  }
  ~install() { std::filesystem::remove_all(root); }
};


// A synthesizer instance started at 48000 Hz with every control at its
// default.
inline void *started_synth(int block) {
  void *s = SYNTH_MODULE.new_(nullptr, nullptr);
  SYNTH_MODULE.start(s, 8, block);
  orka_info info{};
  SYNTH_MODULE.info(&info);
  for (int i = 0; i < info.nctls; ++i) {
    orka_ctlinfo ci{};
    SYNTH_MODULE.ctlinfo(i, &ci);
    SYNTH_MODULE.onctl(s, i, ci.def);
  }
  return s;
}
