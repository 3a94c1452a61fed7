# One interface target carries the language level, the warnings and the Qt hygiene
# for every target of the project.
add_library(launcher_common INTERFACE)
target_compile_features(launcher_common INTERFACE cxx_std_17)
if(MSVC)
    target_compile_options(launcher_common INTERFACE /W4 /WX /utf-8)
else()
    target_compile_options(launcher_common INTERFACE -Wall -Wextra -Werror)
endif()
target_compile_definitions(launcher_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(LAUNCHER_SANITIZE)
    set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(launcher_common INTERFACE ${sanitizer_flags})
    target_link_options(launcher_common INTERFACE ${sanitizer_flags})
endif()

if(LAUNCHER_FUZZ)
    set(fuzz_flags -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(launcher_common INTERFACE ${fuzz_flags})
    target_link_options(launcher_common INTERFACE -fsanitize=address,undefined)
endif()
