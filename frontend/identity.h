// The program's name says the machine it was built for: "w32" for the 32-bit x86 build (VORNA_W32,
// the compile definition of that build), "wasm" for the WebAssembly build, "arm64" and "arm32" for the
// ARM builds (told by the compiler's own target macros), "x64" for the 64-bit x86 build. One line per
// build.
#pragma once

#if defined(VORNA_W32)
#define VORNA_NAME "Vorna 1.12 w32"
#elif defined(__EMSCRIPTEN__)
#define VORNA_NAME "Vorna 1.12 wasm"
#elif defined(__aarch64__)
#define VORNA_NAME "Vorna 1.12 arm64"
#elif defined(__arm__)
#define VORNA_NAME "Vorna 1.12 arm32"
#else
#define VORNA_NAME "Vorna 1.12 x64"
#endif

inline constexpr char EngineName[] = VORNA_NAME;
