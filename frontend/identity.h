// The program's name: the 32-bit build says "w32", the 64-bit build "x64". VORNA_W32 is the one
// compile definition that tells the two builds apart.
#pragma once

#ifdef VORNA_W32
#define VORNA_NAME "Vorna 1.12 w32"
#else
#define VORNA_NAME "Vorna 1.12 x64"
#endif

inline constexpr char EngineName[] = VORNA_NAME;
