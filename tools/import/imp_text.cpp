// The text of an imported definition and the data of its sample files.
#include <cstdio>

#include "import/imp_model.h"

std::string imp_conf_text(const def_instrument &inst, const std::string &source) {
  std::string t = "# Instrument imported from " + source + " by glimra-import.\n"
                  "# Waves: the zones of the bank's samples; patches and drum keys below.\n\n";
  for (const def_wave &w : inst.waves) {
    t += "wav " + w.name + " {\n";
    for (const def_map &m : w.maps) {
      char b[96];
      std::snprintf(b, sizeof b, "  map key = %d:%d vel = %d:%d {\n", m.keylo, m.keyhi, m.vello, m.velhi);
      t += b;
      t += "    data \"" + inst.files[static_cast<std::size_t>(m.file)].path + "\"\n";
      t += "    pitch " + imp_number(m.pitch) + "\n";
      if (m.vol != 127.0)
        t += "    vol " + imp_number(m.vol) + "\n";
      if (m.loop)
        t += "    loop " + std::to_string(m.loop) + "\n";
      t += "  }\n";
    }
    t += "}\n";
  }
  for (const def_patch &p : inst.patches) {
    t += "\n" + std::string(p.drum ? "drumkey " : "patch ") + std::to_string(p.number) + " " + p.name + " {\n";
    if (p.ckey >= 0)
      t += "  ckey " + std::to_string(p.ckey) + "\n";
    if (p.fast_tempo)
      t += "  tempo 480\n";
    int n = 0;
    for (const def_layer &l : p.layers) {
      t += "  layer l" + std::to_string(n++) + " {\n";
      t += "    wav " + inst.waves[static_cast<std::size_t>(l.wave)].name + "\n";
      for (const std::string &s : l.lines)
        t += "    " + s + "\n";
      t += "  }\n";
    }
    t += "}\n";
  }
  return t;
}

std::vector<std::int16_t> imp_file_data(const imp_bank &bank, const def_file &f) {
  const auto &a = bank.samples[static_cast<std::size_t>(f.sample)].data;
  std::vector<std::int16_t> out(a.begin() + f.begin, a.begin() + f.end);
  if (f.mix >= 0) {
    const auto &b = bank.samples[static_cast<std::size_t>(f.mix)].data;
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::size_t j = f.mixbegin + i;
      const int r = j < b.size() ? b[j] : 0;
      out[i] = static_cast<std::int16_t>((out[i] + r) / 2);
    }
  }
  return out;
}
