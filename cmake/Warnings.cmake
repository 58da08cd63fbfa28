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
