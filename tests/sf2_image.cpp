// A minimal SoundFont 2 writer for test input.
#include "sf2_image.h"

namespace sf2 {
namespace {

void put16(std::string &s, int v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string &s, std::uint32_t v) {
  put16(s, static_cast<int>(v & 0xFFFF));
  put16(s, static_cast<int>(v >> 16));
}
void name20(std::string &s, const std::string &n) {
  std::string t = n.substr(0, 19);
  t.resize(20, '\0');
  s += t;
}
std::string chunk(const char *id, const std::string &body) {
  std::string s(id, 4);
  put32(s, static_cast<std::uint32_t>(body.size()));
  s += body;
  if (body.size() % 2)
    s += '\0';
  return s;
}
std::string list(const char *type, const std::string &body) {
  return chunk("LIST", std::string(type, 4) + body);
}

// The bag, modulator and generator records of a set of zones; owner_mods
// holds each owner's modulators per zone (missing entries: none).
void zones_of(const std::vector<std::vector<zone>> &owners,
              const std::vector<std::vector<std::vector<mod>>> &owner_mods, std::string *bags,
              std::string *mods, std::string *gens, std::vector<int> *first_bag) {
  int nbag = 0, ngen = 0, nmod = 0;
  for (std::size_t o = 0; o < owners.size(); ++o) {
    first_bag->push_back(nbag);
    for (std::size_t z = 0; z < owners[o].size(); ++z) {
      put16(*bags, ngen);
      put16(*bags, nmod);
      ++nbag;
      for (const auto &[op, amount] : owners[o][z]) {
        put16(*gens, op);
        put16(*gens, amount);
        ++ngen;
      }
      if (o < owner_mods.size() && z < owner_mods[o].size())
        for (const mod &m : owner_mods[o][z]) {
          put16(*mods, m.src);
          put16(*mods, m.dest);
          put16(*mods, m.amount);
          put16(*mods, m.amtsrc);
          put16(*mods, m.trans);
          ++nmod;
        }
    }
  }
  first_bag->push_back(nbag);
  put16(*bags, ngen); // terminal bag
  put16(*bags, nmod);
  *mods += std::string(10, '\0');
  *gens += std::string(4, '\0');
}

} // namespace

std::string image(const std::vector<sample> &samples, const std::vector<instrument> &insts,
                  const std::vector<preset> &presets) {
  std::string smpl, shdr;
  for (const sample &s : samples) {
    const auto start = static_cast<std::uint32_t>(smpl.size() / 2);
    for (std::int16_t v : s.data)
      put16(smpl, v);
    smpl += std::string(2 * 46, '\0'); // the zero run every sample ends with
    name20(shdr, s.name);
    put32(shdr, start);
    put32(shdr, start + static_cast<std::uint32_t>(s.data.size()));
    put32(shdr, start + s.loopstart);
    put32(shdr, start + s.loopend);
    put32(shdr, static_cast<std::uint32_t>(s.rate));
    shdr += static_cast<char>(s.root);
    shdr += static_cast<char>(static_cast<signed char>(s.correction));
    put16(shdr, s.link);
    put16(shdr, s.type);
  }
  name20(shdr, "EOS");
  shdr += std::string(26, '\0');

  std::vector<std::vector<zone>> iz, pz;
  std::vector<std::vector<std::vector<mod>>> im;
  for (const instrument &i : insts) {
    iz.push_back(i.zones);
    im.push_back(i.mods);
  }
  for (const preset &p : presets)
    pz.push_back(p.zones);
  std::string ibag, imod, igen, pbag, pmod, pgen, inst, phdr;
  std::vector<int> ifirst, pfirst;
  zones_of(iz, im, &ibag, &imod, &igen, &ifirst);
  zones_of(pz, {}, &pbag, &pmod, &pgen, &pfirst);
  for (std::size_t i = 0; i < insts.size(); ++i) {
    name20(inst, insts[i].name);
    put16(inst, ifirst[i]);
  }
  name20(inst, "EOI");
  put16(inst, ifirst.back());
  for (std::size_t i = 0; i < presets.size(); ++i) {
    name20(phdr, presets[i].name);
    put16(phdr, presets[i].program);
    put16(phdr, presets[i].bank);
    put16(phdr, pfirst[i]);
    phdr += std::string(12, '\0');
  }
  name20(phdr, "EOP");
  put16(phdr, 0);
  put16(phdr, 0);
  put16(phdr, pfirst.back());
  phdr += std::string(12, '\0');

  std::string ifil;
  put16(ifil, 2);
  put16(ifil, 1);
  const std::string info = chunk("ifil", ifil) + chunk("isng", std::string("EMU8000\0", 8)) +
                           chunk("INAM", std::string("Test bank\0", 10));
  const std::string pdta = chunk("phdr", phdr) + chunk("pbag", pbag) + chunk("pmod", pmod) +
                           chunk("pgen", pgen) + chunk("inst", inst) + chunk("ibag", ibag) +
                           chunk("imod", imod) + chunk("igen", igen) + chunk("shdr", shdr);
  const std::string body = std::string("sfbk", 4) + list("INFO", info) + list("sdta", chunk("smpl", smpl)) +
                           list("pdta", pdta);
  return chunk("RIFF", body);
}

} // namespace sf2
