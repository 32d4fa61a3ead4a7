// vorna-perft "<fen>" <depth> [divide]
// vorna-perft moves
// Counts the legal move tree of any position; with "divide", one line per legal root move. The leaf
// count always stands alone on the last line, so other engines' counts are easy to compare.
// "moves" serves a referee that asks many times: for every FEN line read from standard input it writes
// one line with the position's legal moves (blank-separated, possibly none), or "refused: <reason>".
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/attacks.h"
#include "board/fen.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"
#include "moves/perft.h"

namespace {
int ServeLegalMoves() {
    char fen[512];
    while (std::fgets(fen, sizeof fen, stdin)) {
        fen[std::strcspn(fen, "\r\n")] = 0;
        if (!SetBoard(fen)) {
            std::printf("refused: %s\n", SetBoardError);
        } else {
            Board.CurrentState->InCheck = SideToMoveInCheck();
            MoveList list;
            ClearMoveList(list);
            GenerateMoves(list);
            const char* separator = "";
            for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
                if (!MakeMove(slot->move)) continue;
                UnmakeMove(slot->move);
                char text[6];
                MoveToText(slot->move, text);
                std::printf("%s%s", separator, text);
                separator = " ";
            }
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "moves") == 0) {
        InitTables();
        InitZobrist();
        return ServeLegalMoves();
    }
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "divide") != 0)) {
        std::fprintf(stderr, "usage: vorna-perft \"<fen>\" <depth> [divide] | vorna-perft moves\n");
        return 2;
    }
    int depth = std::atoi(argv[2]);
    if (depth < 1 || depth > 20) {
        std::fprintf(stderr, "vorna-perft: depth must be 1..20\n");
        return 2;
    }
    InitTables();
    InitZobrist();
    if (!SetBoard(argv[1])) {
        std::fprintf(stderr, "vorna-perft: position refused: %s\n", SetBoardError);
        return 1;
    }
    u64 total = 0;
    if (argc == 4) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
            if (!MakeMove(slot->move)) continue;
            PerftCount = 0;
            if (depth > 1)
                Perft(u8(depth - 1));
            else
                PerftCount = 1;
            UnmakeMove(slot->move);
            char text[6];
            MoveToText(slot->move, text);
            std::printf("%s: %llu\n", text, (unsigned long long)PerftCount);
            total += PerftCount;
        }
    } else {
        PerftCount = 0;
        Perft(u8(depth));
        total = PerftCount;
    }
    std::printf("%llu\n", (unsigned long long)total);
    return 0;
}
