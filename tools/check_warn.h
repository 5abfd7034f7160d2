// check_warn.h - findings about a loaded instrument definition that are
// not errors: sounds that click, notes that cost far more than they should.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/patch/patch.h"
#include "synth/wave/wave.h"

// Pitch (Q20 semitones) at which layer l of a patch plays key: the layer's
// pitch base moved by its key dependency.  Drum keys play every key at the
// base: the kit applies no key dependency.
std::int64_t check_key_pitch(const layer &l, bool drum, int key);

// Level (Q20 volume steps, 0 = full scale) at which the voice of layer l on
// map m is left once its volume release has ended, before velocity and
// controllers lower it.
std::int64_t check_release_level(const layer &l, const map &m);

// Every finding about the model now loaded, one message each, in program
// order: volume releases that end above -90 dB (the voice is cut there
// with a click) and maps that a layer plays more than two octaves above
// their recording (the resampler's cost grows with the speed).  Set-up
// thread, after a successful load.
std::vector<std::string> check_warnings();
