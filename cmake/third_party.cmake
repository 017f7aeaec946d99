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
  if(ORVANE_BENCHMARKS)
    find_package(benchmark CONFIG REQUIRED)
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

# Google Benchmark: Debian packages it for Linux only, so the Windows build
# compiles it from its source package with its own compiler and flags.
if(ORVANE_BENCHMARKS AND NOT WIN32)
  find_package(benchmark REQUIRED)
elseif(ORVANE_BENCHMARKS)
  set(benchmark_dir "${ORVANE_THIRD_PARTY_DIR}/benchmark")
  if(NOT EXISTS "${benchmark_dir}/CMakeLists.txt")
    message(FATAL_ERROR "Google Benchmark sources missing at ${benchmark_dir}: run scripts/setup")
  endif()
  foreach(off TESTING GTEST_TESTS INSTALL WERROR)
    set(BENCHMARK_ENABLE_${off} OFF CACHE BOOL "" FORCE)
  endforeach()
  # Its feature checks would run programs, which a cross build cannot; the
  # mingw-w64 C++ library has both.
  set(HAVE_STD_REGEX ON)
  set(HAVE_STEADY_CLOCK ON)
  add_subdirectory(${benchmark_dir} ${CMAKE_BINARY_DIR}/benchmark EXCLUDE_FROM_ALL SYSTEM)
endif()
