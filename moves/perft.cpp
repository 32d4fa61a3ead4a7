#include "moves/perft.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "board/fen.h"
#include "moves/makemove_inline.h"
#include "moves/movegen.h"
#include "moves/movegen_inline.h"
#include "platform/platform.h"
#include "search/limits.h"

u64 PerftCount = 0;

namespace {
// The last ply: each move is made, tested and taken back as the generator produces it, and each legal
// one is a leaf. Make counts the legal ones in NodeCount, or the maker does when the context says make
// does not.
template <int Us, class Context>
struct LeafMaker {
    const Context& context;
    u32 legal = 0;
    VORNA_INLINE void operator()(u32 word, PieceCode mover) {
        Move m;
        std::memcpy(&m, &word, sizeof m);
        if (MakeWith<Us, true>(context, m, mover)) {
            if constexpr (!Context::CountsNodes) ++legal;
            UnmakeWith<Us>(context, m, mover);
        }
    }
};

template <int Us>
__attribute__((noinline)) void PerftLeaves() {
#ifdef VORNA_32BIT_ARITH
    // The 32-bit program gains nothing from the copy of every set: it writes each set as two halves
    // either way. It keeps the mover's sets (but the king's) in the loop's context and counts the
    // leaves in a register.
    LeafContext context;
    FillLeafContext<Us>(context);
#else
    const CopiedContext context = CopiedContextOf<Us>();
#endif
    const u64 before = NodeCount;
    LeafMaker<Us, std::remove_const_t<decltype(context)>> maker{context};
    movegen::Generate<Us, false>(maker);
    NodeCount += maker.legal;
    PerftCount += NodeCount - before;
}

template <int Us>
void PerftOf(u8 depth) {
    StoreCheckStateOf<Us>();
    if (depth == 1) return PerftLeaves<Us>();
    MoveList list;
    ClearMoveList(list);
    if (Us == White)
        GenerateWhiteMoves(list);
    else
        GenerateBlackMoves(list);
    const MakeContext context = MakeContextOf<Us, true>();
    const MoveSlot* const end = list.end;
    for (const MoveSlot* slot = list.slots; slot < end; ++slot) {
        Move m = slot->move;
        if (!MakeWith<Us, true>(context, m)) continue;
        PerftOf<1 - Us>(u8(depth - 1));
        UnmakeWith<Us>(context, m);
    }
}

struct SuiteEntry {
    const char* fen;
    u8 depth;
};
const SuiteEntry Suite[] = {
    {StartFen, 6},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", 5},
    {"8/PPP4k/8/8/8/8/4Kppp/8 w - -", 6},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 7},
};
}  // namespace

void Perft(u8 depth) {
    if (depth == 0) return;
    if (Board.SideToMove == White)
        PerftOf<White>(depth);
    else
        PerftOf<Black>(depth);
}

void RunPerft(u8 depth) {
    PerftCount = 0;
    AllocateTime();
    Perft(depth);
    u32 elapsed = TickCount() - SearchLimits.StartTime;
    std::printf("depth = %u, nodes = %10llu, time = %8.2f", unsigned(depth), (unsigned long long)PerftCount,
                elapsed / 1000.0);
    if (elapsed != 0) {
        double rate = PerftCount * 1000.0 / elapsed;
        u32 r = rate >= 4294967295.0 ? 4294967295u : u32(rate);
        std::printf("\t%u kN / s", r / 1000);
    }
    std::printf("\n");
    std::fflush(stdout);
}

void PerftSuite() {
    for (const SuiteEntry& e : Suite) {
        SetBoard(e.fen);
        RunPerft(e.depth);
        FlipColours();
        ComputeHashKey();
        RunPerft(e.depth);
        std::printf("--------------------------------------------------\n");
        std::fflush(stdout);
    }
}
