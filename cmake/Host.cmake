# Settings of the host build of the platform-free code.
option(SANARIX_SANITIZE "Build the host tests with AddressSanitizer and UBSan" ON)
add_compile_options(-Wall -Wextra)
if(SANARIX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()
