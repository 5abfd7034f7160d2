# The definition checker's command line: exit status, findings and
# messages.  -DCHECK=<glimra-check> -DSRC=<tests dir> -DBIN=<scratch dir>
# expect(status out_regex err_regex ARG...); the argument EMPTY stands for "".
function(expect status out_regex err_regex)
  if(ARGN STREQUAL "EMPTY") # a list drops empty elements
    execute_process(COMMAND ${CHECK} "" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  else()
    execute_process(COMMAND ${CHECK} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  if(NOT rc EQUAL status)
    message(SEND_ERROR "glimra-check '${ARGN}': status ${rc}, expected ${status}\n${out}${err}")
  endif()
  if(NOT out MATCHES "${out_regex}")
    message(SEND_ERROR "glimra-check '${ARGN}': printed\n${out}expected to match\n${out_regex}")
  endif()
  if(NOT err MATCHES "${err_regex}")
    message(SEND_ERROR "glimra-check '${ARGN}': warned\n${err}expected to match\n${err_regex}")
  endif()
endfunction()

set(data ${SRC}/data/check)
expect(0 "layers: 2, sample memory: 8 bytes\n$" "^$" ${data}/good)
# A definition folder by any name, as glimra-import writes one, without a
# data folder of its own.
file(REMOVE_RECURSE ${BIN}/bank)
file(COPY ${data}/good/data/ DESTINATION ${BIN}/bank)
expect(0 "patch   0 \"Tone\": 1 layer\n.*layers: 2, sample memory: 8 bytes\n$" "^$" ${BIN}/bank)
# The value at fault is on line 3; the engine reports it on line 4.
expect(1 "^data.midisyn.conf: 3: no such wave\n$" "^$" ${data}/bad)
# No definition at all is no instrument.
expect(1 "midisyn.conf: can't open file for reading\nglimra-check: no instrument definition\n$" "^$"
  ${BIN}/no-such-folder)
expect(1 "^glimra-check: empty folder name\n$" "^$" EMPTY)
string(REPEAT "d" 300 long)
expect(1 "^appdata_loadres: library path too long\nglimra-check: no instrument definition\n$" "^$"
  ${BIN}/${long})
expect(0 "patches: 2, drum keys: 0"
  "^warning: patch 3: name \"Lead\" already taken, renamed \"Lead 3\"\nwarning: patch 0 \"Lead\": layer 1: volume release ends at -10 dB: the voice stops there with a click\nwarning: patch 3 \"Lead 3\": layer 1: wave tone: keys 82:93 play more than two octaves above their recording\n$"
  ${data}/warn)
