# MP3 and AAC media made at build time from tones: sox renders the tone, lame or ffmpeg's own
# AAC encoder encodes it.
find_program(SOX sox REQUIRED)
find_program(LAME lame REQUIRED)
find_program(FFMPEG ffmpeg REQUIRED)

set(KELPLAYERX_MEDIA_DIR ${CMAKE_BINARY_DIR}/media)
file(MAKE_DIRECTORY ${KELPLAYERX_MEDIA_DIR})

# kel_mp3(<name> FORMAT <sox output options...> EFFECTS <sox effects...> LAME <lame options...>)
# makes ${KELPLAYERX_MEDIA_DIR}/<name>.mp3 as part of the default build.
function(kel_mp3 name)
  cmake_parse_arguments(ARG "" "" "FORMAT;EFFECTS;LAME" ${ARGN})
  set(wav ${KELPLAYERX_MEDIA_DIR}/${name}.wav)
  set(mp3 ${KELPLAYERX_MEDIA_DIR}/${name}.mp3)
  add_custom_command(OUTPUT ${mp3}
    COMMAND ${SOX} -n ${ARG_FORMAT} ${wav} ${ARG_EFFECTS}
    COMMAND ${LAME} --quiet ${ARG_LAME} ${wav} ${mp3}
    COMMAND ${CMAKE_COMMAND} -E remove ${wav}
    VERBATIM)
  add_custom_target(media_${name} ALL DEPENDS ${mp3})
endfunction()

# kel_aac(<name> FORMAT <sox output options...> EFFECTS <sox effects...> BITRATE <rate>)
# makes ${KELPLAYERX_MEDIA_DIR}/<name>.aac, AAC LC in ADTS frames, as part of the default build.
function(kel_aac name)
  cmake_parse_arguments(ARG "" "BITRATE" "FORMAT;EFFECTS" ${ARGN})
  set(wav ${KELPLAYERX_MEDIA_DIR}/${name}-aac.wav)
  set(aac ${KELPLAYERX_MEDIA_DIR}/${name}.aac)
  add_custom_command(OUTPUT ${aac}
    COMMAND ${SOX} -n ${ARG_FORMAT} ${wav} ${ARG_EFFECTS}
    COMMAND ${FFMPEG} -nostdin -v error -y -i ${wav} -c:a aac -b:a ${ARG_BITRATE} -f adts ${aac}
    COMMAND ${CMAKE_COMMAND} -E remove ${wav}
    VERBATIM)
  add_custom_target(media_${name}_aac ALL DEPENDS ${aac})
endfunction()

# kel_hls_media() makes ${KELPLAYERX_MEDIA_DIR}/hls: the HLS station's segments in each of its
# forms, cut from one tone by ffmpeg's segmenter (tools/hls_media.py), as part of the default build.
function(kel_hls_media)
  find_program(OPENSSL openssl REQUIRED)
  set(script ${CMAKE_SOURCE_DIR}/tools/hls_media.py)
  set(stamp ${KELPLAYERX_MEDIA_DIR}/hls/ts-aac/segments.txt)
  add_custom_command(OUTPUT ${stamp}
    COMMAND python3 ${script} ${KELPLAYERX_MEDIA_DIR}/hls ${SOX} ${FFMPEG} ${OPENSSL}
    DEPENDS ${script}
    VERBATIM)
  add_custom_target(media_hls ALL DEPENDS ${stamp})
endfunction()
