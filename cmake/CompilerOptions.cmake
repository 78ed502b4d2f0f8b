# Warning and sanitizer flags shared by every target of the project.
add_library(pellora_options INTERFACE)
target_compile_options(pellora_options INTERFACE -Wall -Wextra)
if(PELLORA_WERROR)
  target_compile_options(pellora_options INTERFACE -Werror)
endif()
if(PELLORA_SANITIZE)
  target_compile_options(pellora_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(pellora_options INTERFACE -fsanitize=address,undefined)
endif()
# GCC 12 reports -Wrestrict for `"text" + std::string` when optimising, a known
# false positive of that release's string inlining.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(pellora_options INTERFACE -Wno-restrict)
endif()
