// fx_rig.h - an effect module driven through its table, as the host does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "orka/orka.h"
#include "utils/cpu.h"

using ctl_list = std::vector<std::pair<int, int>>;
using buf = std::vector<std::int32_t>;

// One effect through its module table: started at a rate with every
// control at its default and then the given changes, as the host does.
// `portable`: started with the portable code even where the processor
// has a vector path.
struct effect {
  const orka_module &m;
  void *inst;
  int nin = 0, nout = 0;
  effect(const orka_module &mod, int rateidx, const ctl_list &ctls, bool portable = false)
      : m(mod) {
    orka_info info{};
    m.info(&info);
    nin = info.ninputs;
    nout = info.noutputs;
    inst = m.new_(nullptr, nullptr);
    cpu_force_portable(portable);
    m.start(inst, rateidx, 512);
    cpu_force_portable(false);
    std::vector<int> vals(info.nctls);
    for (int i = 0; i < info.nctls; ++i) {
      orka_ctlinfo ci{};
      m.ctlinfo(i, &ci);
      vals[i] = ci.def;
    }
    for (auto &c : ctls)
      vals[c.first] = c.second;
    for (int i = 0; i < info.nctls; ++i)
      m.onctl(inst, i, vals[i]);
    m.reset(inst);
  }
  ~effect() {
    m.stop(inst);
    m.del(inst);
  }
  effect(const effect &) = delete;
  effect &operator=(const effect &) = delete;
  // Runs left and right (a mono effect takes the left) in blocks of 512
  // into cleared outputs; returns the outputs.
  std::pair<buf, buf> run(const buf &l, const buf &r) {
    buf ol(l.size(), 0), orr(l.size(), 0);
    for (std::size_t at = 0; at < l.size(); at += 512) {
      const int n = static_cast<int>(std::min<std::size_t>(512, l.size() - at));
      std::int32_t *in[2] = {const_cast<std::int32_t *>(l.data() + at),
                             const_cast<std::int32_t *>(r.data() + at)};
      std::int32_t *out[2] = {ol.data() + at, orr.data() + at};
      m.run(inst, in, out, n);
    }
    if (nout == 1)
      orr.assign(l.size(), 0);
    return {ol, orr};
  }
};
