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
#include "bench/bench_positions.inc"
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
