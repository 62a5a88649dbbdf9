# External libraries, all from Debian packages (see scripts/bootstrap.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(VM_EXT REQUIRED IMPORTED_TARGET
  sdl2 freetype2 fontconfig libpng libjpeg zlib ogg vorbis vorbisfile vorbisenc lua5.1
  libavformat libavcodec libavutil libswscale libswresample)

add_library(velmira_common INTERFACE)
target_include_directories(velmira_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(velmira_common INTERFACE PkgConfig::VM_EXT Threads::Threads ${CMAKE_DL_LIBS})
target_compile_options(velmira_common INTERFACE -Wall -Wextra -Wno-unused-parameter)
if(VELMIRA_SANITIZE)
  set(VM_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(velmira_common INTERFACE ${VM_SAN_FLAGS})
  target_link_options(velmira_common INTERFACE ${VM_SAN_FLAGS})
endif()
if(VELMIRA_FUZZ)
  set(VM_FUZZ_FLAGS -fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_compile_options(velmira_common INTERFACE ${VM_FUZZ_FLAGS})
  target_link_options(velmira_common INTERFACE -fsanitize=address,undefined)
endif()
