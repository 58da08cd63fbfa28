# Project-wide compiler settings: warnings, and the sanitizer build.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
if(MIREL_WERROR)
  add_compile_options(-Werror)
endif()

if(MIREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz build instruments the libraries for coverage; the fuzz targets
# themselves link the libFuzzer driver (fuzz/CMakeLists.txt).
if(MIREL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
