// Reading a bank through libinstpatch: the library parses SoundFont 2 and
// DLS files and resolves each preset's zones into voices whose generator
// arrays already hold the summed and defaulted values.
#include "import/imp_bank.h"

#include <libinstpatch/libinstpatch.h>

#include <map>

namespace {

template <typename T> struct gobj {
  T *p = nullptr;
  explicit gobj(T *q = nullptr) : p(q) {}
  ~gobj() {
    if (p)
      g_object_unref(p);
  }
  gobj(const gobj &) = delete;
  gobj &operator=(const gobj &) = delete;
};

std::string take_error(GError *e, const std::string &what) {
  std::string s = what + ": " + (e && e->message ? e->message : "unknown error");
  if (e)
    g_error_free(e);
  return s;
}

// The samples of the bank, each read once as 16-bit mono frames.  A DLS
// sample may hold two channels; each becomes its own sample, linked.
struct sample_table {
  imp_bank *bank;
  std::map<std::pair<IpatchSampleData *, int>, int> index; // (data, channel) -> sample

  int add(IpatchSampleData *sd, int channel, const std::string &name, int rate, int side,
          std::string *err) {
    const auto key = std::make_pair(sd, channel);
    const auto it = index.find(key);
    if (it != index.end())
      return it->second;
    imp_sample s;
    s.name = name;
    s.rate = rate;
    s.side = side;
    const guint frames = ipatch_sample_get_size(IPATCH_SAMPLE(sd), nullptr);
    s.data.resize(frames);
    GError *e = nullptr;
    const int fmt = static_cast<int>(IPATCH_SAMPLE_16BIT) | static_cast<int>(IPATCH_SAMPLE_MONO) |
                    static_cast<int>(IPATCH_SAMPLE_SIGNED) | static_cast<int>(IPATCH_SAMPLE_ENDIAN_HOST);
    if (frames && !ipatch_sample_read_transform(IPATCH_SAMPLE(sd), 0, frames, s.data.data(), fmt,
                                                IPATCH_SAMPLE_MAP_CHANNEL(0, channel), &e)) {
      *err = take_error(e, "sample " + name);
      return -1;
    }
    bank->samples.push_back(std::move(s));
    const int n = static_cast<int>(bank->samples.size()) - 1;
    index[key] = n;
    return n;
  }
};

int channels_of(IpatchSampleData *sd) {
  const int fmt = ipatch_sample_get_format(IPATCH_SAMPLE(sd));
  return IPATCH_SAMPLE_FORMAT_GET_CHANNEL_COUNT(fmt);
}

// SoundFont samples: names, stereo links, by their data.
struct sf2_sample_info {
  std::string name;
  int side = SIDE_MONO;
  IpatchSampleData *partner = nullptr;
};

std::map<IpatchSampleData *, sf2_sample_info> sf2_samples(IpatchSF2 *sf2) {
  std::map<IpatchSampleData *, sf2_sample_info> out;
  IpatchList *list = ipatch_container_get_children(IPATCH_CONTAINER(sf2), IPATCH_TYPE_SF2_SAMPLE);
  for (GList *p = list->items; p; p = p->next) {
    auto *s = IPATCH_SF2_SAMPLE(p->data);
    sf2_sample_info info;
    info.name = s->name ? s->name : "";
    if (s->channel == IPATCH_SF2_SAMPLE_CHANNEL_LEFT)
      info.side = SIDE_LEFT;
    else if (s->channel == IPATCH_SF2_SAMPLE_CHANNEL_RIGHT)
      info.side = SIDE_RIGHT;
    IpatchSF2Sample *linked = ipatch_sf2_sample_get_linked(s);
    if (linked) {
      info.partner = linked->sample_data;
      g_object_unref(linked);
    }
    if (info.side != SIDE_MONO && !info.partner)
      info.side = SIDE_MONO;
    out[s->sample_data] = info;
  }
  g_object_unref(list);
  return out;
}

// Sums the amounts of the voice's modulators from one source to the
// vibrato depth.
int vibrato_from(GSList *mods, int control, bool cc) {
  int sum = 0;
  for (GSList *m = mods; m; m = m->next) {
    const auto *mod = static_cast<const IpatchSF2Mod *>(m->data);
    const bool is_cc = (mod->src & IPATCH_SF2_MOD_MASK_CC) != 0;
    if ((mod->src & IPATCH_SF2_MOD_MASK_CONTROL) == control && is_cc == cc &&
        mod->dest == GEN_VIBLFO_PITCH && mod->amtsrc == 0)
      sum += mod->amount;
  }
  return sum;
}

bool read_preset(GObject *item, int bank, int program, const std::string &name,
                 const std::map<IpatchSampleData *, sf2_sample_info> &sf2info,
                 sample_table &table, imp_preset *out, std::string *err) {
  out->bank = bank;
  out->program = program;
  out->name = name;
  gobj<IpatchConverter> conv(ipatch_create_converter(G_OBJECT_TYPE(item), IPATCH_TYPE_SF2_VOICE_CACHE));
  if (!conv.p) {
    *err = name + ": no voice converter";
    return false;
  }
  gobj<IpatchSF2VoiceCache> cache(ipatch_sf2_voice_cache_new(nullptr, 0));
  ipatch_converter_add_input(conv.p, item);
  ipatch_converter_add_output(conv.p, G_OBJECT(cache.p));
  GError *e = nullptr;
  if (!ipatch_converter_convert(conv.p, &e)) {
    *err = take_error(e, name);
    return false;
  }
  for (guint i = 0; i < cache.p->voices->len; ++i) {
    IpatchSF2Voice *v = IPATCH_SF2_VOICE_CACHE_GET_VOICE(cache.p, i);
    if (!v->sample_data)
      continue;
    const int *range = &g_array_index(cache.p->ranges, int, v->range_index);
    imp_zone z;
    z.keylo = range[0];
    z.keyhi = range[1];
    z.vello = range[2];
    z.velhi = range[3];
    for (int g = 0; g < GEN_COUNT; ++g)
      z.gen[static_cast<std::size_t>(g)] = v->gen_array.values[g].sword;
    z.loopstart = v->loop_start;
    z.loopend = v->loop_end;
    z.root = v->root_note;
    z.correction = v->fine_tune;
    z.modwheel_vib = vibrato_from(v->mod_list, 1, true);
    z.pressure_vib = vibrato_from(v->mod_list, IPATCH_SF2_MOD_CONTROL_CHAN_PRESSURE, false);
    const auto info = sf2info.find(v->sample_data);
    const int rate = static_cast<int>(v->rate);
    if (info != sf2info.end()) {
      z.sample = table.add(v->sample_data, 0, info->second.name, rate, info->second.side, err);
      if (z.sample < 0)
        return false;
      if (info->second.partner) {
        const auto pinfo = sf2info.find(info->second.partner);
        if (pinfo != sf2info.end()) {
          const int partner = table.add(info->second.partner, 0, pinfo->second.name, rate,
                                        pinfo->second.side, err);
          if (partner < 0)
            return false;
          table.bank->samples[static_cast<std::size_t>(z.sample)].partner = partner;
          table.bank->samples[static_cast<std::size_t>(partner)].partner = z.sample;
        }
      }
      out->zones.push_back(z);
    } else {
      // DLS: a stereo sample becomes two zones on two linked samples.
      const int nch = channels_of(v->sample_data) > 1 ? 2 : 1;
      const std::string base = name + "_" + std::to_string(i);
      int first = -1;
      for (int c = 0; c < nch; ++c) {
        const int side = nch == 1 ? SIDE_MONO : (c == 0 ? SIDE_LEFT : SIDE_RIGHT);
        z.sample = table.add(v->sample_data, c, base, rate, side, err);
        if (z.sample < 0)
          return false;
        if (c == 0)
          first = z.sample;
        else {
          table.bank->samples[static_cast<std::size_t>(first)].partner = z.sample;
          table.bank->samples[static_cast<std::size_t>(z.sample)].partner = first;
        }
        out->zones.push_back(z);
      }
    }
  }
  return true;
}

} // namespace

std::array<int, GEN_COUNT> imp_gen_defaults() {
  std::array<int, GEN_COUNT> g{};
  g[GEN_FC] = 13500;
  for (int i : {GEN_MODLFO_DELAY, GEN_VIBLFO_DELAY, GEN_MODENV_DELAY, GEN_MODENV_ATTACK,
                GEN_MODENV_HOLD, GEN_MODENV_DECAY, GEN_MODENV_RELEASE, GEN_VOLENV_DELAY,
                GEN_VOLENV_ATTACK, GEN_VOLENV_HOLD, GEN_VOLENV_DECAY, GEN_VOLENV_RELEASE})
    g[static_cast<std::size_t>(i)] = -12000;
  g[GEN_SCALETUNE] = 100;
  g[GEN_ROOTKEY] = -1;
  g[GEN_FIXEDKEY] = -1;
  g[GEN_FIXEDVEL] = -1;
  return g;
}

bool imp_read_bank(const std::string &path, imp_bank *out, std::string *err) {
  ipatch_init();
  GError *e = nullptr;
  IpatchFileHandle *fh = ipatch_file_identify_open(path.c_str(), &e);
  if (!fh) {
    *err = take_error(e, path);
    return false;
  }
  gobj<GObject> base(ipatch_convert_object_to_type(G_OBJECT(fh->file), IPATCH_TYPE_BASE, &e));
  ipatch_file_close(fh);
  if (!base.p) {
    *err = take_error(e, path);
    return false;
  }
  const bool sf2 = IPATCH_IS_SF2(base.p);
  if (!sf2 && !IPATCH_IS_DLS2(base.p)) {
    *err = path + ": neither a SoundFont 2 nor a DLS bank";
    return false;
  }
  std::map<IpatchSampleData *, sf2_sample_info> info;
  if (sf2)
    info = sf2_samples(IPATCH_SF2(base.p));
  sample_table table{out, {}};
  IpatchList *list = ipatch_container_get_children(
      IPATCH_CONTAINER(base.p), sf2 ? IPATCH_TYPE_SF2_PRESET : IPATCH_TYPE_DLS2_INST);
  bool ok = true;
  for (GList *p = list->items; p && ok; p = p->next) {
    GObject *item = G_OBJECT(p->data);
    int bank = 0, program = 0;
    char *name = nullptr;
    g_object_get(item, "bank", &bank, "program", &program, "name", &name, nullptr);
    if (!sf2) {
      gboolean perc = FALSE;
      g_object_get(item, "percussion", &perc, nullptr);
      if (perc)
        bank = 128;
    }
    imp_preset pr;
    ok = read_preset(item, bank, program, name ? name : "", info, table, &pr, err);
    g_free(name);
    if (ok)
      out->presets.push_back(std::move(pr));
  }
  g_object_unref(list);
  return ok;
}
