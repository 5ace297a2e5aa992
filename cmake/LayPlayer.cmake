# cmake -DFROM=<installed player package> -DTO=<folder beside the program> -P LayPlayer.cmake
# Copies the player's scripts, WebAssembly builds, licences and package.json (which names its
# version); unchanged files are left alone. Without an installed package the program shows its
# "cannot play" line instead of a movie, so this only warns.
if(NOT EXISTS "${FROM}/ruffle.js")
  message(WARNING "No Flash player at ${FROM}: run tools/install-player.sh first")
  return()
endif()
file(GLOB files "${FROM}/*.js" "${FROM}/*.wasm" "${FROM}/LICENSE*" "${FROM}/package.json")
file(MAKE_DIRECTORY "${TO}")
file(COPY ${files} DESTINATION "${TO}")
