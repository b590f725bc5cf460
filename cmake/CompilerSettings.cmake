# Every string literal of the program is GBK text (the code page the window
# shows) while the sources stay UTF-8; the host build uses the same bytes so
# its tests compare against exactly what the program holds.
if(MSVC)
  add_compile_options(/W4 /source-charset:utf-8 /execution-charset:.936 /permissive-)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
endif()

# Applied by src/ and tests/ to their own targets only: some standard headers
# that GoogleTest's sources pull in hold characters GBK cannot encode.
# Clang only encodes literals as UTF-8; it builds just the fuzz targets, whose
# checks do not depend on the literals' bytes.
function(qv_use_gbk_literals)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_definitions(QV_UTF8_LITERALS)
  elseif(NOT MSVC)
    add_compile_options(-finput-charset=UTF-8 -fexec-charset=GBK)
  endif()
endfunction()

if(QV_WIN32)
  add_compile_definitions(NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  if(NOT MSVC)
    # One self-contained .exe: no MinGW runtime DLLs beside it.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # A release program carries no symbols (the debug build is 6 MB of them).
    add_link_options($<$<CONFIG:Release>:-s>)
  endif()
  # Up to 1,024 workers, each with its own stack: on 64-bit Windows a 32-bit
  # process that declares itself large-address aware gets 4 GB of address
  # space instead of 2. No code here keeps pointers in signed integers.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    if(MSVC)
      add_link_options(/LARGEADDRESSAWARE)
    else()
      add_link_options(-Wl,--large-address-aware)
    endif()
  endif()
endif()

if(QV_SANITIZE AND NOT QV_WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
