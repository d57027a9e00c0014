# libmad 0.15.1b, the fixed-point MPEG audio decoder, built as a static library from the source
# tarball that tools/setup-deps.sh fetches (never kept in this repository).
set(KELPLAYERX_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Where setup-deps.sh unpacked the dependencies")
set(LIBMAD_SOURCE_DIR ${KELPLAYERX_DEPS_DIR}/libmad-0.15.1b)
if(NOT EXISTS ${LIBMAD_SOURCE_DIR}/decoder.c)
  message(FATAL_ERROR "libmad source not found in ${LIBMAD_SOURCE_DIR}: run tools/setup-deps.sh")
endif()

kel_patched_source(libmad ${LIBMAD_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/cmake/libmad-fixes.patch LIBMAD_SOURCE_DIR)

# The fixed-point multiply must match the target: 64-bit C arithmetic on x86_64, the x87/IA-32
# inline assembly on i686.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(LIBMAD_FPM FPM_64BIT)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(LIBMAD_FPM FPM_INTEL)
else()
  message(FATAL_ERROR "libmad: no fixed-point mode for ${CMAKE_SYSTEM_PROCESSOR}")
endif()

# The shipped mad.h is the i686 one. Our code sees a copy in the build tree, rewritten for the
# target, so that it agrees with how the library itself was compiled.
set(LIBMAD_INCLUDE_DIR ${CMAKE_BINARY_DIR}/libmad/include)
file(READ ${LIBMAD_SOURCE_DIR}/mad.h LIBMAD_HEADER)
string(FIND "${LIBMAD_HEADER}" "# define FPM_INTEL\n" LIBMAD_FPM_AT)
if(LIBMAD_FPM_AT EQUAL -1)
  message(FATAL_ERROR "libmad: mad.h does not define FPM_INTEL as expected")
endif()
string(REPLACE "# define FPM_INTEL\n" "# define ${LIBMAD_FPM}\n" LIBMAD_HEADER "${LIBMAD_HEADER}")
# Written beside, then copied only when it changed, so that a re-configure rebuilds nothing.
file(WRITE ${CMAKE_BINARY_DIR}/libmad/mad.h.new "${LIBMAD_HEADER}")
configure_file(${CMAKE_BINARY_DIR}/libmad/mad.h.new ${LIBMAD_INCLUDE_DIR}/mad.h COPYONLY)

set(LIBMAD_SOURCES)
foreach(name version fixed bit timer stream frame synth decoder layer12 layer3 huffman)
  list(APPEND LIBMAD_SOURCES ${LIBMAD_SOURCE_DIR}/${name}.c)
endforeach()

add_library(mad STATIC ${LIBMAD_SOURCES})
# No fork mode: HAVE_UNISTD_H, HAVE_FORK and HAVE_PIPE stay undefined.
target_compile_definitions(mad PRIVATE ${LIBMAD_FPM} SIZEOF_INT=4 HAVE_ASSERT_H HAVE_LIMITS_H HAVE_ERRNO_H)
# Third-party code: its warnings (layer3.c's -Wstringop-overflow among them) are not ours to fix.
target_compile_options(mad PRIVATE -w)
target_include_directories(mad BEFORE PUBLIC ${LIBMAD_INCLUDE_DIR})
target_include_directories(mad PRIVATE ${LIBMAD_SOURCE_DIR})
