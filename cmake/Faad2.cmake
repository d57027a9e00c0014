# FAAD2 2.10.1, the AAC, HE-AAC and HE-AAC v2 decoder, built as a static library (floating point,
# no DRM or decoder variants we do not use) from the source tarball that tools/setup-deps.sh fetches.
set(FAAD2_SOURCE_DIR ${KELPLAYERX_DEPS_DIR}/faad2-2.10.1)
if(NOT EXISTS ${FAAD2_SOURCE_DIR}/libfaad/decoder.c)
  message(FATAL_ERROR "FAAD2 source not found in ${FAAD2_SOURCE_DIR}: run tools/setup-deps.sh")
endif()

kel_patched_source(faad2 ${FAAD2_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/cmake/faad2-fixes.patch FAAD2_SOURCE_DIR)

# The library's modules (its libfaad/*.c), listed once for the build, the fuzz driver and the native benchmark.
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/faad2-modules.txt FAAD2_MODULES)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/faad2-modules.txt)
list(TRANSFORM FAAD2_MODULES REPLACE "(.+)" "${FAAD2_SOURCE_DIR}/libfaad/\\1.c" OUTPUT_VARIABLE FAAD2_SOURCES)

add_library(faad STATIC ${FAAD2_SOURCES})
# What its configure script would find on any Windows C runtime.
target_compile_definitions(faad PRIVATE PACKAGE_VERSION="2.10.1" STDC_HEADERS=1 HAVE_STDINT_H=1
  HAVE_INTTYPES_H=1 HAVE_STRING_H=1 HAVE_STDLIB_H=1 HAVE_MEMCPY=1 HAVE_STRCHR=1 HAVE_LRINTF=1)
# Third-party code: its warnings are not ours to fix.
target_compile_options(faad PRIVATE -w)
target_include_directories(faad PUBLIC ${FAAD2_SOURCE_DIR}/include)
target_include_directories(faad PRIVATE ${FAAD2_SOURCE_DIR}/libfaad)
