#include "board/board.h"
#include "eval/evaluate.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

// Captures and queen promotions until the position is quiet. Fail-soft: returns the best of the
// stand-pat score and the move scores even below alpha.
i16 Quiescence(i16 alpha, i16 beta) {
    // Polled like every node of the node search: in a position crowded with pieces that can take each
    // other (a dozen queens a side) the capture tree alone runs for hours, and the first iteration of
    // a search is nothing else. The callers discard what a stopped search returns.
    if (PollInput()) {
        StopSearch = 1;
        return 0;
    }
    int best = Evaluate();
    if (best > alpha) {
        if (best >= beta) return i16(best);
        alpha = i16(best);
    }
    // A capture line can never exhaust the state stack in play; this only guards absurd set-ups.
    if (StateIndex() >= StateStackSize - 1) return i16(best);

    MoveList list;
    ClearMoveList(list);
    GenerateTactical(list);
    const PieceCode* mailbox = Board.Mailbox;
    for (MoveSlot* slot = list.slots; slot < list.end; ++slot)
        slot->orderKey = u16((slot->move.captured << 4) | (16 - mailbox[slot->move.from]));

    while (list.next < list.end) {
        MoveSlot* pick = list.next;
        for (MoveSlot* slot = list.next + 1; slot < list.end; ++slot)
            if (slot->orderKey > pick->orderKey) pick = slot;
        MoveSlot chosen = *pick;
        *pick = *list.next;
        *list.next = chosen;
        ++list.next;
        Move m = chosen.move;
        if (!MakeMove(m)) continue;
        int s = -Quiescence(i16(-beta), i16(-alpha));
        UnmakeMove(m);
        if (StopSearch) return 0;
        if (s > best) {
            if (s > alpha) {
                if (s >= beta) return i16(s);
                alpha = i16(s);
            }
            best = s;
        }
    }
    return i16(best);
}
