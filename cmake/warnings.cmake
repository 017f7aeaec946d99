# Warnings are errors in our own code; third-party targets do not use this.
add_library(orvane_warnings INTERFACE)
if(MSVC)
  target_compile_options(orvane_warnings INTERFACE /W4 /WX /permissive- /utf-8)
else()
  target_compile_options(orvane_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
    # GCC 12 reports std::string concatenation as overlapping memcpy at -O3
    # (a false positive of its -Wrestrict).
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
endif()
