# The renderer's command line: every bad input gives a message and a
# non-zero status; the installed tree renders with no environment variable.
# -DRENDER=<glimra-render> -DBIN=<build dir> -DSRC=<tests dir> [-DPREFIX=<install prefix>]
set(tree ${BIN}/cli-test)
file(REMOVE_RECURSE ${tree})
file(MAKE_DIRECTORY ${tree}/Glimra/Synth)
file(COPY ${BIN}/liborka.so DESTINATION ${tree}/Glimra/Synth)
file(COPY ${BIN}/instrument/ DESTINATION ${tree}/Glimra/Synth/data)
set(ENV{PROGRAMFILES} ${tree})
set(ENV{APPDATA} ${tree})
set(mid ${SRC}/data/short.mid)
set(plug --plugin ${BIN}/Glimra-Synth.so)

function(expect_error message)
  execute_process(COMMAND ${RENDER} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0)
    message(FATAL_ERROR "glimra-render ${ARGN}: succeeded, expected '${message}'")
  endif()
  string(FIND "${err}" "${message}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "glimra-render ${ARGN}: said '${err}', expected '${message}'")
  endif()
endfunction()

expect_error("no MIDI file given")
expect_error("missing.mid: cannot open" ${tree}/missing.mid)
expect_error("not a Standard MIDI File" ${SRC}/data/check/good/data/midisyn.conf -o ${tree}/x.wav)
expect_error("unsupported rate 44000" ${mid} --rate 44000)
expect_error("unknown sample format '12'" ${mid} --format 12)
expect_error("output must end in .wav or .flac" ${mid} -o ${tree}/x.mp3)
expect_error("FLAC holds 16 or 24-bit samples" ${mid} -o ${tree}/x.flac --format float)
expect_error("--set needs NAME=VALUE" ${mid} --set volume)
expect_error("nostate.txt: cannot open" ${mid} --state ${tree}/nostate.txt)
expect_error("the plug-in fails to load" ${mid} -o ${tree}/x.wav --plugin ${tree}/nothing.so)
expect_error("unknown control 'loud'" ${mid} -o ${tree}/x.wav ${plug} --set loud=3)
expect_error("unknown value 'huge' for control 'rev_model'" ${mid} -o ${tree}/x.wav ${plug} --set rev_model=huge)
expect_error("no patch named 'Tuba'" ${mid} -o ${tree}/x.wav ${plug} --patch Tuba)
expect_error("argument was not expected: --frobnicate" ${mid} --frobnicate)
# One huge delta at the slowest tempo: refused before any rendering.
expect_error("the file lasts 1250999.8 hours, longer than the limit of 24.0 hours"
             ${SRC}/data/forever.mid -o ${tree}/x.wav ${plug})
expect_error("the file lasts" ${mid} -o ${tree}/x.wav ${plug} --max-length 0.5)

# A good render, and the listing.
execute_process(COMMAND ${RENDER} ${mid} -o ${tree}/ok.flac --format 24 ${plug} --gm --patch 0
                        --set rev_model=large --tail 0.5 -q RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/ok.flac)
  message(FATAL_ERROR "render failed: ${err}")
endif()
execute_process(COMMAND ${RENDER} --list ${plug} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
foreach(text "Grand Piano" "Closed Hi-Hat" "holdmode = Pedal: Pedal, Bend-Wheel, Mod-Wheel" "volume = 127: 0 ... 127")
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1 OR NOT rc EQUAL 0)
    message(FATAL_ERROR "--list lacks '${text}':\n${out}")
  endif()
endforeach()

# An installation put elsewhere than configured finds everything beside
# its own files: the renderer its plug-in, the plug-in (also through a
# symbolic link) its engine, the engine its data.
if(PREFIX)
  file(REMOVE_RECURSE ${PREFIX}) # the configured place holds nothing now
endif()
set(moved ${tree}/moved)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${moved} RESULT_VARIABLE rc OUTPUT_QUIET)
unset(ENV{PROGRAMFILES})
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} ${tree}/moved.wav
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/moved.wav OR out MATCHES "peak -999")
  message(FATAL_ERROR "the moved installation failed or stayed silent: ${out} ${err}")
endif()
file(MAKE_DIRECTORY ${tree}/hostvst)
file(CREATE_LINK ${moved}/lib/vst/Glimra-Synth.so ${tree}/hostvst/Glimra-Synth.so SYMBOLIC)
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} -o ${tree}/linked.wav -q
                        --plugin ${tree}/hostvst/Glimra-Synth.so RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/linked.wav)
  message(FATAL_ERROR "the plug-in through a link failed: ${err}")
endif()
set(RENDER ${moved}/bin/glimra-render)
expect_error("two outputs given" ${mid} ${tree}/a.wav -o ${tree}/b.wav)
expect_error("no midisyn.conf in it" ${mid} ${tree}/a.wav --instrument ${tree}/hostvst)
file(RENAME ${moved}/lib/Glimra/Synth/liborka.so ${moved}/lib/Glimra/Synth/gone.so)
expect_error("its engine is looked for in ${moved}/lib/Glimra/Synth/liborka.so" ${mid} ${tree}/c.wav)
set(ENV{PROGRAMFILES} ${tree})

# The installed tree finds its engine without any variable.
if(PREFIX)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} RESULT_VARIABLE rc OUTPUT_QUIET)
  unset(ENV{PROGRAMFILES})
  execute_process(COMMAND ${PREFIX}/bin/glimra-render ${mid} -o ${tree}/installed.wav --gm -q
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/installed.wav)
    message(FATAL_ERROR "the installed renderer failed: ${err}")
  endif()
  execute_process(COMMAND ${PREFIX}/bin/glimra-check RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "glimra-check on the installed tree: ${out}")
  endif()
endif()
