// What connects the protocol loops with the search: the limits of the next search, the mode flags and
// the stop flag, and the time allocation.
#pragma once
#include "board/types.h"

struct SearchLimitsData {
    u32 TimeLeft;         // engine's clock in ms; 0 = not given
    u32 Increment;        // ms added per move
    u32 MovesToGo;        // moves to the next time control; 0 = none
    u32 MovesPerSession;  // xboard "level": refills MovesToGo; not read by the search
    u32 MoveTime;         // fixed ms for this move; 0 = not set
    u8 MaxDepth;          // deepest iteration in plies
    u32 StartTime;        // tick at which the current search started
    u32 HardLimit;        // elapsed ms at which a running search is stopped; 0 = none
    u32 IterationLimit;   // elapsed ms after which no new iteration starts; 0 = none
};

// Written by the protocol loops before each search, read by the search.
extern SearchLimitsData SearchLimits;

// Mode flags: written by the protocol loops (AnalyzeMode also by the input polling), read by the search.
extern u8 PostThinking;
extern u8 UciMode;
extern u8 XboardMode;
extern u8 AnalyzeMode;

// Set while a running search must unwind.
extern u8 StopSearch;

// Records the start tick and derives HardLimit and IterationLimit from the clock fields.
void AllocateTime();

// The deepest iteration MaxDepth can hold; a deeper request is searched to this depth.
inline constexpr u8 LargestDepth = 255;

// MaxDepth for a depth asked for by the interface: a negative depth counts as 0, one beyond the
// largest depth as the largest (kept in 8 bits, 300 would otherwise become 44).
inline u8 DepthLimit(long long plies) {
    return plies <= 0 ? u8(0) : plies >= LargestDepth ? LargestDepth : u8(plies);
}
