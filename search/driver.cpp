#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "frontend/console.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"
#include "platform/platform.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

void PrintThinking(u8 depth, i16 score, Move move) {
    if (!PostThinking) return;
    char text[6];
    MoveToText(move, text);
    u32 elapsed = TickCount() - SearchLimits.StartTime;
    char line[160];
    line[0] = 0;
    unsigned long long nodes = NodeCount;
    if (UciMode) {
        u32 nps = elapsed ? u32(NodeCount * 1000 / elapsed) : 0;
        if (score >= -32000 && score <= 32000)
            std::snprintf(line, sizeof line, "info depth %u score cp %d time %u nodes %llu nps %u pv %s\n",
                          unsigned(depth), int(score), unsigned(elapsed), nodes, unsigned(nps), text);
        else
            std::snprintf(line, sizeof line, "info depth %u score mate %d time %u nodes %llu nps %u pv %s\n",
                          unsigned(depth), score > 0 ? (32768 - score) / 2 : -((score + 32767) / 2),
                          unsigned(elapsed), nodes, unsigned(nps), text);
    } else if (XboardMode) {
        std::snprintf(line, sizeof line, "%u %d %u %llu %s\n", unsigned(depth), int(score), unsigned(elapsed / 10),
                      nodes, text);
    }
    if (line[0]) WriteReply(line, true);
}

namespace {
// Moves the slot at index i to the front; the slots before it each move back one place.
void MoveToFront(MoveList& list, MoveSlot* slot) {
    MoveSlot chosen = *slot;
    std::memmove(list.slots + 1, list.slots, sizeof(MoveSlot) * size_t(slot - list.slots));
    list.slots[0] = chosen;
}
}  // namespace

Move SearchBestMove() {
    AllocateTime();
    StoreCheckState();
    MoveList root;
    ClearMoveList(root);
    GenerateMoves(root);

    Move firstLegal = NullMove;
    for (MoveSlot* slot = root.slots; slot < root.end; ++slot) {
        if (MakeMove(slot->move)) {
            UnmakeMove(slot->move);
            firstLegal = slot->move;
            break;
        }
    }

    NodeCount = 0;
    NextPollNodes = 1024;
    StopSearch = 0;
    std::memset(History, 0, sizeof History);
    if (firstLegal == NullMove || SearchLimits.MaxDepth == 0) return firstLegal;

    for (unsigned d = 1; d <= SearchLimits.MaxDepth; ++d) {
        int best = -MateValue;
        for (MoveSlot* slot = root.slots; slot < root.end; ++slot) {
            Move m = slot->move;
            if (!MakeMoveKnownCheck(m)) continue;
            int s;
            if (IsRepetition()) {
                s = 0;
            } else if (d == 1) {
                s = -Quiescence(-MateValue, MateValue);
            } else if (best == -MateValue) {
                s = -AlphaBeta(u8(d - 1), 1, -MateValue, MateValue);
            } else {
                s = -AlphaBeta(u8(d - 1), 1, i16(-best - 1), i16(-best));
                if (s > best) s = -AlphaBeta(u8(d - 1), 1, -MateValue, i16(-s));
            }
            UnmakeMove(m);
            // Stopped before the first iteration has scored any move: the first slot may hold a move
            // that is not legal, so the first legal move stands in.
            if (StopSearch) return d == 1 && best == -MateValue ? firstLegal : root.slots[0].move;
            if (s > best) {
                best = s;
                MoveToFront(root, slot);
                PrintThinking(u8(d), i16(s), m);
            }
        }
        PrintThinking(u8(d), i16(best), root.slots[0].move);
        u32 limit = SearchLimits.IterationLimit;
        if (limit && TickCount() - SearchLimits.StartTime >= limit) break;
    }
    return root.slots[0].move;
}
