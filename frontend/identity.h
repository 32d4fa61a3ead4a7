// The program's name: the 32-bit build says "w32", the WebAssembly build "wasm", the 64-bit build "x64".
// VORNA_W32 is the one compile definition that tells the two native builds apart.
#pragma once

#ifdef VORNA_W32
#define VORNA_NAME "Vorna 1.12 w32"
#elif defined(__EMSCRIPTEN__)
#define VORNA_NAME "Vorna 1.12 wasm"
#else
#define VORNA_NAME "Vorna 1.12 x64"
#endif

inline constexpr char EngineName[] = VORNA_NAME;
