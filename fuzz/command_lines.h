// Structure-aware mutation for the protocol targets. Most random byte strings die in the tokenizer, so
// the mutator works on whole command lines: it inserts, replaces, deletes, repeats and swaps lines, or
// one word of a line, with lines made the way an interface makes them (position and setboard commands
// with FENs near the edge of what SetBoard accepts, move lists from random legal games with an illegal
// or oddly written move here and there, go, level and time commands with edge values, commands sent
// while the engine thinks), and leaves the rest to libFuzzer's byte mutations and dictionary.
#pragma once
#include <cstddef>
#include <cstdint>

enum class Protocol { Uci, Xboard };

// libFuzzer's custom mutator and cross-over. They use the engine's board and move generator to make
// legal move lists; StartInput resets all of it before each run.
size_t MutateCommandLines(Protocol protocol, uint8_t* data, size_t size, size_t maxSize, unsigned seed);
size_t CrossOverCommandLines(const uint8_t* a, size_t sizeA, const uint8_t* b, size_t sizeB, uint8_t* out,
                             size_t maxOut, unsigned seed);
