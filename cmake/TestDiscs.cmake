# Authored test discs: tools/make-test-disc turns tests/discs/<name>.disc into
# ${ZDR_TEST_DISC_DIR}/<name>/ (VIDEO_TS, AUDIO_TS, disc.iso). A disc is made once per build
# tree and again only when its description or the tool changes. A stamp file beside the disc
# records a finished disc; the tool works in a temporary folder and moves the disc into place,
# so an interrupted build never leaves a half disc behind.
#
#   test-discs   (built by ALL) the small discs every suite may use, and the damaged fixtures
#   bench-discs  (on request) the long discs for benchmarks
set(ZDR_MAKE_TEST_DISC ${CMAKE_SOURCE_DIR}/tools/make-test-disc)
set(ZDR_DISC_DESCRIPTIONS ${CMAKE_SOURCE_DIR}/tests/discs)
file(MAKE_DIRECTORY ${ZDR_TEST_DISC_DIR})

# zdr_test_disc(NAME OUT_STAMP): the command that authors disc NAME; sets OUT_STAMP to the
# stamp file it produces (list it in exactly one target's DEPENDS).
function(zdr_test_disc name out_stamp)
  set(desc ${ZDR_DISC_DESCRIPTIONS}/${name}.disc)
  set(stamp ${ZDR_TEST_DISC_DIR}/.${name}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${stamp}
    COMMAND bash ${ZDR_MAKE_TEST_DISC} ${desc} ${ZDR_TEST_DISC_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${desc} ${ZDR_MAKE_TEST_DISC}
    COMMENT "Authoring test disc ${name}"
    VERBATIM)
  set(${out_stamp} ${stamp} PARENT_SCOPE)
endfunction()

set(ZDR_TEST_DISC_STAMPS "")
foreach(disc sample pal short-first many flash noaudio)
  if(EXISTS ${ZDR_DISC_DESCRIPTIONS}/${disc}.disc)
    zdr_test_disc(${disc} _stamp)
    list(APPEND ZDR_TEST_DISC_STAMPS ${_stamp})
    set(ZDR_TEST_DISC_STAMP_${disc} ${_stamp})
  endif()
endforeach()

set(_bench_stamps "")
foreach(disc long long10)
  if(EXISTS ${ZDR_DISC_DESCRIPTIONS}/${disc}.disc)
    zdr_test_disc(${disc} _stamp)
    list(APPEND _bench_stamps ${_stamp})
  endif()
endforeach()

# Damaged fixtures: ${ZDR_TEST_DISC_DIR}/damaged/<kind>/, made by tools/disc-damage from an
# authored disc (tests/discs/README.md says what each holds).
set(_damaged
  zeroed-sectors:sample garbage-sectors:sample cut-iso:sample ifo-garbage:sample
  pgc-count-zero:sample pgc-count-huge:sample cells-past-end:sample chapters-overlong:sample
  scrambled:sample structure-protection:many)
if(TARGET disc-damage)
  foreach(item ${_damaged})
    string(REPLACE ":" ";" _pair ${item})
    list(GET _pair 0 _kind)
    list(GET _pair 1 _source)
    if(DEFINED ZDR_TEST_DISC_STAMP_${_source})
      set(_stamp ${ZDR_TEST_DISC_DIR}/damaged/.${_kind}.stamp)
      add_custom_command(OUTPUT ${_stamp}
        COMMAND ${CMAKE_COMMAND} -E rm -f ${_stamp}
        COMMAND disc-damage ${_kind} ${ZDR_TEST_DISC_DIR}/${_source}
                ${ZDR_TEST_DISC_DIR}/damaged/${_kind}
        COMMAND ${CMAKE_COMMAND} -E touch ${_stamp}
        DEPENDS disc-damage ${ZDR_TEST_DISC_STAMP_${_source}}
        COMMENT "Damaging test disc ${_source}: ${_kind}"
        VERBATIM)
      list(APPEND ZDR_TEST_DISC_STAMPS ${_stamp})
    endif()
  endforeach()
endif()

add_custom_target(test-discs ALL DEPENDS ${ZDR_TEST_DISC_STAMPS})
add_custom_target(bench-discs DEPENDS ${_bench_stamps})
