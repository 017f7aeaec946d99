# Third-party code. On this machine it is compiled from Debian's source
# packages (scripts/setup fetches them); a Visual Studio build takes the same
# libraries from vcpkg (vcpkg.json) instead.
if(ORVANE_USE_VCPKG)
  find_package(unofficial-nayuki-qr-code-generator CONFIG REQUIRED)
  find_package(libyuv CONFIG REQUIRED)
  add_library(qrcodegen ALIAS unofficial::nayuki-qr-code-generator::nayuki-qr-code-generator)
  if(BUILD_TESTING)
    find_package(GTest CONFIG REQUIRED)
  endif()
  return()
endif()

set(qr_dir "${ORVANE_THIRD_PARTY_DIR}/qrcodegen/cpp")
set(yuv_dir "${ORVANE_THIRD_PARTY_DIR}/libyuv")
if(NOT EXISTS "${qr_dir}/qrcodegen.cpp" OR NOT EXISTS "${yuv_dir}/include/libyuv.h")
  message(FATAL_ERROR "Third-party sources missing under ${ORVANE_THIRD_PARTY_DIR}: run scripts/setup")
endif()

add_library(qrcodegen STATIC "${qr_dir}/qrcodegen.cpp")
target_include_directories(qrcodegen SYSTEM PUBLIC "${qr_dir}")

file(GLOB yuv_sources "${yuv_dir}/source/*.cc")
# Only the x86 C and GCC-assembly rows; the other architectures' files and the
# JPEG parts are left out.
list(FILTER yuv_sources EXCLUDE REGEX "_(neon|neon64|msa|mmi|lsx|lasx|win|sve|sme|rvv)\\.cc$")
list(FILTER yuv_sources EXCLUDE REGEX "(mjpeg_|convert_jpeg)")
add_library(yuv STATIC ${yuv_sources})
target_include_directories(yuv SYSTEM PUBLIC "${yuv_dir}/include")
target_compile_options(yuv PRIVATE -w)

if(BUILD_TESTING)
  set(gtest_src /usr/src/googletest)
  if(NOT EXISTS "${gtest_src}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources missing at ${gtest_src}: run scripts/setup")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
