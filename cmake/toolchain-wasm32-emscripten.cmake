# SPDX-License-Identifier: MIT
# WebAssembly build for the web page with Debian's emscripten: the library and the page's glue.
set(QUIRA_TARGET_TRIPLET wasm32)
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
# Debian's emcc runs its JavaScript optimiser under node with Debian's acorn, which lives outside
# node's default search path: every compile and link is launched with it found.
set(CMAKE_C_COMPILER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_COMPILER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(ENV{NODE_PATH} /usr/share/nodejs)
