# Settings of the cross build: Unicode Win32, static runtime so that the programs import
# only Windows system DLLs.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601)
add_compile_options(-Wall -Wextra)
add_link_options(-static -static-libgcc -static-libstdc++)
