// Benchmarks that print figures: the search over a fixed set of positions (with a node-count
// signature that must not change unless the search is meant to change), the static evaluation and the
// quiescence search, and the perft suite's move machinery.
//
//   vorna-bench [search [depth [polled]]] | eval | perft
//
// "polled": the search looks at its standard input every 1024 nodes, as it does under an interface, so
// that the cost of that look shows against a run without it. The input must stay open and silent
// (`sleep 600 | vorna-bench search 8 polled`): a line, or the end of input, stops the search.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/attacks.h"
#include "board/fen.h"
#include "eval/evaluate.h"
#include "frontend/identity.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/perft.h"
#include "platform/platform.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

namespace {
const char* const BenchPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -",
    "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ -",
    "rnbqkb1r/pp3ppp/4pn2/2pp4/3P4/2P1PN2/PP3PPP/RNBQKB1R w KQkq -",
    "r2q1rk1/ppp2ppp/2np1n2/2b1p1B1/2B1P1b1/2NP1N2/PPP2PPP/R2Q1RK1 w - -",
    "2rq1rk1/pp1bppbp/2np1np1/8/3NP3/1BN1BP2/PPPQ2PP/2KR3R b - -",
    "r1b2rk1/2q1bppp/p2ppn2/1p6/3BPP2/2NB4/PPPQ2PP/R4RK1 w - -",
    "4rrk1/pp1n3p/3q2pQ/2p1pb2/2PP4/2P3N1/P2B2PP/4RRK1 b - -",
    "r3r1k1/2p2ppp/p1p1bn2/8/1q2P3/2NPQN2/PPP3PP/R4RK1 b - -",
    "6k1/6p1/6Pp/ppp5/3pn2P/1P3K2/1PP2P2/3N4 b - -",
    "8/8/4k3/3p4/3P1K2/8/8/8 w - -",
    "8/5pk1/6p1/7p/7P/6P1/5PK1/3r4 w - -",
    "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 w - -",
    "r1bqk2r/pp2bppp/2p5/3pP3/P2Q1P2/2N1B3/1PP3PP/R4RK1 b kq -",
    "3r2k1/p4ppp/1p6/2p5/2P5/1P4P1/P4P1P/3R2K1 w - -",
};

double Seconds(u32 ms) { return ms / 1000.0; }

int SearchBench(int depth, bool polled) {
    IgnoreInput = !polled;
    PostThinking = 0;
    u64 totalNodes = 0, signature = 0;
    u32 totalMs = 0;
    for (const char* fen : BenchPositions) {
        SetBoard(fen);
        ClearSearchTables();
        SearchLimits = SearchLimitsData{0, 0, 0, 0, 0, u8(depth), 0, 0, 0};
        u32 start = TickCount();
        Move best = SearchBestMove();
        u32 ms = TickCount() - start;
        totalMs += ms;
        totalNodes += NodeCount;
        signature = signature * 1000003u ^ NodeCount ^ (u64(MoveWord(best)) << 32);
        std::printf("%-70s %12llu nodes %7.2f s\n", fen, (unsigned long long)NodeCount, Seconds(ms));
    }
    std::printf("%s search bench, depth %d%s\n", EngineName, depth, polled ? ", input polled" : "");
    std::printf("total nodes %llu, time %.2f s, %llu nodes/s\n", (unsigned long long)totalNodes,
                Seconds(totalMs), totalMs ? (unsigned long long)(totalNodes * 1000 / totalMs) : 0ull);
    std::printf("signature %llu\n", (unsigned long long)signature);
    return 0;
}

// Evaluations per second over every bench position and the positions one legal move away, and the
// rate of quiescence nodes for full-window quiescence searches of the same positions.
int EvalBench() {
    const int rounds = 200000;
    volatile int sink = 0;
    u64 evals = 0, qnodes = 0;
    u32 evalMs = 0, qMs = 0;
    for (const char* fen : BenchPositions) {
        SetBoard(fen);
        u32 start = TickCount();
        for (int i = 0; i < rounds; ++i) sink = sink + Evaluate();
        evalMs += TickCount() - start;
        evals += rounds;
        NodeCount = 0;
        start = TickCount();
        for (int i = 0; i < rounds / 20; ++i) sink = sink + Quiescence(-32767, 32767);
        qMs += TickCount() - start;
        qnodes += NodeCount + rounds / 20;
    }
    std::printf("%s evaluation bench\n", EngineName);
    std::printf("evaluations %llu, time %.2f s, %llu evaluations/s\n", (unsigned long long)evals, Seconds(evalMs),
                evalMs ? (unsigned long long)(evals * 1000 / evalMs) : 0ull);
    std::printf("quiescence nodes %llu, time %.2f s, %llu nodes/s\n", (unsigned long long)qnodes, Seconds(qMs),
                qMs ? (unsigned long long)(qnodes * 1000 / qMs) : 0ull);
    return 0;
}

int PerftBench() {
    u32 start = TickCount();
    PerftSuite();
    u32 ms = TickCount() - start;
    std::printf("%s perft suite: %.2f s\n", EngineName, Seconds(ms));
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    InitTables();
    InitZobrist();
    PrepareTransTable();
    const char* what = argc > 1 ? argv[1] : "search";
    if (std::strcmp(what, "search") == 0)
        return SearchBench(argc > 2 ? std::atoi(argv[2]) : 9, argc > 3 && std::strcmp(argv[3], "polled") == 0);
    if (std::strcmp(what, "eval") == 0) return EvalBench();
    if (std::strcmp(what, "perft") == 0) return PerftBench();
    std::fprintf(stderr, "usage: vorna-bench [search [depth [polled]] | eval | perft]\n");
    return 2;
}
