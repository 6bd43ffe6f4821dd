# -Wall -Wextra on every target of the project (MinGW takes the same flags). Warnings
# become errors only when asked (UCAP_WERROR=ON, as scripts/test.sh and CI do), so a
# newer compiler with new warnings does not stop a user's build.
option(UCAP_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra)
if(UCAP_WERROR)
  add_compile_options(-Werror)
endif()
