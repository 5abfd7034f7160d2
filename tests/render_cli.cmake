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
# its own files: the renderer its plug-in and its patch list, the checker
# its definition, the plug-in (also through a symbolic link) its engine,
# the engine its data.  The configured place holds another, small
# definition (patch 0 "Tone") and no engine, so reading it shows.
if(PREFIX)
  file(REMOVE_RECURSE ${PREFIX})
  file(COPY ${SRC}/data/check/good/ DESTINATION ${PREFIX}/lib/Glimra/Synth)
endif()
set(moved ${tree}/moved)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${tree}/other RESULT_VARIABLE rc OUTPUT_QUIET)
file(RENAME ${tree}/other ${moved})
unset(ENV{PROGRAMFILES})
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} ${tree}/moved.wav
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/moved.wav OR out MATCHES "peak -999")
  message(FATAL_ERROR "the moved installation failed or stayed silent: ${out} ${err}")
endif()
execute_process(COMMAND ${moved}/bin/glimra-render --list RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "  0  Grand Piano\n" OR out MATCHES "Tone")
  message(FATAL_ERROR "--list of the moved installation does not read its own patches: ${out} ${err}")
endif()
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} -o ${tree}/strings.wav -q --patch "Warm Strings"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/strings.wav)
  message(FATAL_ERROR "--patch in the moved installation: ${err}")
endif()
execute_process(COMMAND ${moved}/bin/glimra-check RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "patch   0 \"Grand Piano\"" OR out MATCHES "Tone")
  message(FATAL_ERROR "glimra-check in the moved installation does not read its own definition: ${out} ${err}")
endif()
# A link in a folder whose parent holds no installation: only the link's
# target tells the plug-in where its engine is.
file(MAKE_DIRECTORY ${tree}/linkhost/vst)
file(CREATE_LINK ${moved}/lib/vst/Glimra-Synth.so ${tree}/linkhost/vst/Glimra-Synth.so SYMBOLIC)
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} -o ${tree}/linked.wav -q
                        --plugin ${tree}/linkhost/vst/Glimra-Synth.so RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT EXISTS ${tree}/linked.wav)
  message(FATAL_ERROR "the plug-in through a link failed: ${err}")
endif()

# With the log switched on, every path tried is named, the one that
# worked too; the messages list every path tried.
set(log ${tree}/Glimra-Synth/log1)
function(expect_logged)
  file(READ ${log} text)
  foreach(line ${ARGN})
    string(FIND "${text}" "${line}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the log lacks '${line}':\n${text}")
    endif()
  endforeach()
endfunction()
set(engine_rel "\\Glimra\\Synth\\liborka.so")
file(WRITE ${log} "")
execute_process(COMMAND ${moved}/bin/glimra-render ${mid} -o ${tree}/logged.wav -q
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "render with the log on: ${err}")
endif()
expect_logged("glimra-render: ${moved}/lib/vst/Glimra-Synth.so: plug-in found"
              "orka_load: ${moved}/lib${engine_rel}: library loaded")
set(RENDER ${moved}/bin/glimra-render)
expect_error("two outputs given" ${mid} ${tree}/a.wav -o ${tree}/b.wav)
expect_error("no midisyn.conf in it" ${mid} ${tree}/a.wav --instrument ${tree}/linkhost)
file(RENAME ${moved}/lib/Glimra/Synth/liborka.so ${moved}/lib/Glimra/Synth/gone.so)
file(WRITE ${log} "")
if(PREFIX)
  expect_error("its engine is looked for in ${moved}/lib/Glimra/Synth/liborka.so, ${PREFIX}/lib/Glimra/Synth/liborka.so)"
               ${mid} ${tree}/c.wav)
  expect_logged("orka_load: ${moved}/lib${engine_rel}: couldn't load library"
                "orka_load: ${PREFIX}/lib${engine_rel}: couldn't load library")
else()
  expect_error("its engine is looked for in ${moved}/lib/Glimra/Synth/liborka.so" ${mid} ${tree}/c.wav)
  expect_logged("orka_load: ${moved}/lib${engine_rel}: couldn't load library")
endif()
file(RENAME ${moved}/lib/vst/Glimra-Synth.so ${moved}/lib/vst/gone.so)
file(WRITE ${log} "")
if(PREFIX)
  expect_error("no plug-in found (tried ${moved}/lib/vst/Glimra-Synth.so, ${PREFIX}/lib/vst/Glimra-Synth.so)"
               ${mid} ${tree}/d.wav)
  expect_logged("glimra-render: ${moved}/lib/vst/Glimra-Synth.so: no plug-in there"
                "glimra-render: ${PREFIX}/lib/vst/Glimra-Synth.so: no plug-in there")
else()
  expect_error("no plug-in found (tried ${moved}/lib/vst/Glimra-Synth.so" ${mid} ${tree}/d.wav)
  expect_logged("glimra-render: ${moved}/lib/vst/Glimra-Synth.so: no plug-in there")
endif()
file(REMOVE ${log})
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
