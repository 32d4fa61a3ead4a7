#include "board/board.h"
#include "eval/evaluate.h"
#include "moves/makemove_inline.h"
#include "moves/movegen.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

namespace {
// Captures and queen promotions of Us until the position is quiet. Fail-soft: returns the best of the
// stand-pat score and the move scores even below alpha.
template <int Us>
i16 QuiescenceOf(i16 alpha, i16 beta) {
    // Polled like every node of the node search: in a position crowded with pieces that can take each
    // other (a dozen queens a side) the capture tree alone runs for hours, and the first iteration of
    // a search is nothing else. The callers discard what a stopped search returns.
    if (PollInputDue() && PollInput()) {
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
    if (Us == White)
        GenerateWhiteTactical(list);
    else
        GenerateBlackTactical(list);
    const PieceCode* mailbox = Board.Mailbox;
    MoveSlot* const end = list.end;
    if (end == list.slots) return i16(best);
    for (MoveSlot* slot = list.slots; slot < end; ++slot)
        slot->orderKey = u16((slot->move.captured << 4) | (16 - mailbox[slot->move.from]));

    // Make's short legality test: most captures need no attack test once the pins are known.
    StoreCheckStateOf<Us>();
    const MakeContext context = MakeContextOf<Us, true>();
    for (MoveSlot* next = list.slots; next < end; ++next) {
        MoveSlot* pick = next;
        for (MoveSlot* slot = next + 1; slot < end; ++slot)
            if (slot->orderKey > pick->orderKey) pick = slot;
        MoveSlot chosen = *pick;
        *pick = *next;
        *next = chosen;
        Move m = chosen.move;
        if (!MakeWith<Us, true>(context, m)) continue;
        int s = -QuiescenceOf<1 - Us>(i16(-beta), i16(-alpha));
        UnmakeOf<Us>(m);
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
}  // namespace

i16 Quiescence(i16 alpha, i16 beta) {
    return Board.SideToMove == White ? QuiescenceOf<White>(alpha, beta) : QuiescenceOf<Black>(alpha, beta);
}
