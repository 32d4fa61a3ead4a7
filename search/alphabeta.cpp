#include <cstring>
#ifdef __SSE4_1__
#include <smmintrin.h>
#endif

#include "board/board.h"
#include "moves/makemove_inline.h"
#include "moves/movegen.h"
#include "platform/platform.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

// Zero-initialised, so its pages are only touched when used; aligned for large pages.
alignas(LargePageAlignment) TransEntry TransTable[TransTableSize];

void PrepareTransTable() { AdviseLargePages(TransTable, sizeof TransTable); }
KillerPair Killers[KillerPlies];
u16 History[13][64];

namespace {
// Deepest state-stack record and ply the node search uses; beyond them a node is resolved by the
// quiescence search. Neither is reached by ordinary depth limits.
constexpr int SearchStackLimit = StateStackSize - 8;
constexpr int MaxSearchPly = 250;

inline void Store(TransEntry& e, Move move, u8 bound, u8 depth, int score, u64 key) {
    e.move = move;
    e.bound = bound;
    e.depth = depth;
    e.score = i16(score);
    e.key = key;
}

// The pass: the side to move gives the move to the opponent. The pushed record carries the rights,
// no en-passant square, and ends every repetition scan (Reversible 0).
inline void MakeNullMove() {
    PositionState* st = Board.CurrentState;
    PositionState* next = st + 1;
    next->CastleRights = st->CastleRights;
    next->EpSquare = 0;
    next->HashKey = st->HashKey ^ SideKey ^ EpKeys[st->EpSquare];
    next->Reversible = 0;
    Board.CurrentState = next;
    Board.SideToMove ^= 1;
    ++NodeCount;
}
inline void UnmakeNullMove() {
    --Board.CurrentState;
    Board.SideToMove ^= 1;
}

// The ordering key of a node's moves: the hash move first, then captures (the most valuable victim
// first, then the cheapest mover), the two killers, and the quiet moves by their history counters.
// A capture keeps its capture key even if it is a killer; the hash move's key is set last, over whatever
// else the move is. Written without branches: which rule applies is unpredictable.
struct MoveOrder {
    Move hashMove, killer1, killer2;

    MoveOrder(u8 cply, Move hash) : hashMove(hash), killer1(NullMove), killer2(NullMove) {
        if (cply < KillerPlies) {
            killer1 = Killers[cply].first;
            killer2 = Killers[cply].second;
        }
    }

    u16 KeyOf(Move m) const {
        int mover = Board.Mailbox[m.from];
        u16 quiet = History[mover][m.to];
        if (m == killer2) quiet = 60998;
        if (m == killer1) quiet = 60999;
        u16 key = m.captured ? u16((61000 + 16 * m.captured) | (16 - mover)) : quiet;
        if (m == hashMove) key = 62000;
        return key;
    }
};

// The order in which a node takes its moves: each time the slot with the greatest key among those not
// yet taken (the first of equal keys), which then changes places with the first slot not yet taken. The
// keys are copied, complemented, into an array of their own, where the greatest key is the smallest
// word and eight of them are compared at once; the words past the last move are the largest possible
// (key 0), which never wins over a move since ties go to the lowest index.
struct MovePicker {
    MoveSlot* slots;
    int count;
    alignas(16) u16 rank[MaxMoves + 8];

    // The keys are those ScoreMoves gives, written straight into the array.
    MovePicker(MoveList& list, const MoveOrder& order) : slots(list.slots), count(MoveCount(list)) {
        for (int i = 0; i < count; ++i) rank[i] = u16(~order.KeyOf(list.slots[i].move));
        for (int i = count; i < count + 8; ++i) rank[i] = 0xFFFF;
    }

    // Index of the slot the next pick takes when the slots before first are taken; first < count.
    int Best(int first) const {
#ifdef __SSE4_1__
        u32 best = 0x10000;
        int at = first;
        for (int i = first; i < count; i += 8) {
            __m128i found = _mm_minpos_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rank + i)));
            u32 word = u32(_mm_cvtsi128_si32(found));
            if ((word & 0xFFFF) < best) {
                best = word & 0xFFFF;
                at = i + int(word >> 16);
            }
        }
        return at;
#else
        int at = first;
        for (int i = first + 1; i < count; ++i)
            if (rank[i] < rank[at]) at = i;
        return at;
#endif
    }

    // Moves the slot at index pick to index first (the slot there takes pick's place).
    void Take(int first, int pick) {
        MoveSlot chosen = slots[pick];
        slots[pick] = slots[first];
        slots[first] = chosen;
        u16 r = rank[pick];
        rank[pick] = rank[first];
        rank[first] = r;
    }
};

// The key of the position after m, as make computes it from the key base of its context for an
// ordinary move that keeps the castling rights; only good for fetching the table entry early.
inline u64 KeyAfter(u64 keyBase, Move m) {
    const PieceCode* mailbox = Board.Mailbox;
    u64 key = keyBase ^ PieceSquareKeys[mailbox[m.from]][m.from] ^ PieceSquareKeys[mailbox[m.from]][m.to];
    if (m.captured) key ^= PieceSquareKeys[mailbox[m.to]][m.to];
    return key;
}
}  // namespace

void ClearSearchTables() {
    std::memset(TransTable, 0, sizeof TransTable);
    std::memset(Killers, 0, sizeof Killers);
    std::memset(History, 0, sizeof History);
}

bool NullMoveAllowed() {
    const Bitboard* bb = Board.PieceBB;
    if (Board.SideToMove == White) {
        if (bb[WhiteRook] | bb[WhiteQueen]) return true;
        return PopCount(bb[WhiteKnight] | bb[WhiteBishop]) > 1;
    }
    if (bb[BlackRook] | bb[BlackQueen]) return true;
    return PopCount(bb[BlackKnight] | bb[BlackBishop]) > 1;
}

// One earlier occurrence is enough for the search.
bool IsRepetition() { return EarlierOccurrences(1) > 0; }

void ScoreMoves(MoveList& list, u8 cply, Move hashMove) {
    const MoveOrder order(cply, hashMove);
    for (MoveSlot* slot = list.slots; slot < list.end; ++slot) slot->orderKey = order.KeyOf(slot->move);
}

void RewardQuietMove(Move move, u8 depthBelow, u8 cply) {
    if (cply < KillerPlies && move != Killers[cply].first) {
        Killers[cply].second = Killers[cply].first;
        Killers[cply].first = move;
    }
    u16& counter = History[Board.Mailbox[move.from]][move.to];
    counter = u16(counter + depthBelow);
    if (counter >= 60000)
        for (auto& row : History)
            for (auto& h : row) h >>= 1;
}

namespace {
template <int Us>
i16 AlphaBetaOf(u8 depth, u8 ply, i16 alpha, i16 beta) {
    constexpr int Them = 1 - Us;
    if (PollInputDue() && PollInput()) {
        StopSearch = 1;
        return 0;
    }
    if (StateIndex() >= SearchStackLimit || ply >= MaxSearchPly) return Quiescence(alpha, beta);

    const i16 alpha0 = alpha;
    int best = -MateValue;
    Move bestMove = NullMove;

    PositionState* st = Board.CurrentState;
    const u64 key = st->HashKey;
    TransEntry& entry = TransTable[key & (TransTableSize - 1)];
    Move hashMove = NullMove;
    if (entry.key == key) {
        hashMove = entry.move;
        if (entry.depth >= depth) {
            int score = entry.score;
            if (entry.bound & BoundExact) return i16(score);
            if (entry.bound & BoundUpper) {
                if (score < beta) {
                    if (score <= alpha) return i16(score);
                    beta = i16(score);
                }
            } else if (score > alpha) {
                if (score >= beta) return i16(score);
                alpha = i16(score);
            }
        }
    }
    if (alpha == beta) return alpha;

    // Children that look their positions up in the table: start fetching the entries of the pass and of
    // the hash move, which come first.
    if (depth >= 2) {
        const u64 keyBase = key ^ EpKeys[st->EpSquare] ^ SideKey;
        if (depth >= 4) __builtin_prefetch(&TransTable[keyBase & (TransTableSize - 1)]);
        if (hashMove != NullMove) __builtin_prefetch(&TransTable[KeyAfter(keyBase, hashMove) & (TransTableSize - 1)]);
    }

    const u8 cply = u8(ply + 1);
    const bool inCheck = AttackedBy<Them>(LowestSquare(Board.PieceBB[Piece<Us>(6)]));
    st->InCheck = inCheck;

    u8 newDepth = depth;
    if (!inCheck) {
        newDepth = u8(depth - 1);
        if (newDepth >= 1 && beta < 32000 && NullMoveAllowed()) {
            MakeNullMove();
            int v = newDepth <= 2 ? -Quiescence(i16(-beta), i16(1 - beta))
                                  : -AlphaBetaOf<Them>(u8(newDepth - 2), cply, i16(-beta), i16(1 - beta));
            UnmakeNullMove();
            if (v >= beta) return beta;
        }
    }

    // Make's short legality test needs the risky origins beside the check state.
    StoreRiskyOriginsOf<Us>();
    MoveList list;
    ClearMoveList(list);
    if (Us == White)
        GenerateWhiteMoves(list);
    else
        GenerateBlackMoves(list);

    const MakeContext context = MakeContextOf<Us, true>();
    MovePicker picker(list, MoveOrder(cply, hashMove));
    int pick = picker.count ? picker.Best(0) : 0;
    if (newDepth && picker.count) __builtin_prefetch(&TransTable[KeyAfter(context.keyBase, picker.slots[pick].move) & (TransTableSize - 1)]);
    for (int taken = 0; taken < picker.count; ++taken) {
        // Where the children look their positions up in the table, the next pick is made as soon as
        // this one is taken, and its entry fetched while this move is searched; elsewhere it waits
        // until it is needed, since most nodes cut off after their first move.
        if (taken && !newDepth) pick = picker.Best(taken);
        picker.Take(taken, pick);
        Move m = picker.slots[taken].move;
        if (newDepth && taken + 1 < picker.count) {
            pick = picker.Best(taken + 1);
            __builtin_prefetch(&TransTable[KeyAfter(context.keyBase, picker.slots[pick].move) & (TransTableSize - 1)]);
        }
        if (!MakeWith<Us, true>(context, m)) continue;
        int s;
        if (IsRepetition()) {
            s = 0;
        } else if (newDepth == 0) {
            s = -Quiescence(i16(-beta), i16(-alpha));
        } else if (bestMove == NullMove) {
            s = -AlphaBetaOf<Them>(newDepth, cply, i16(-beta), i16(-alpha));
        } else {
            s = -AlphaBetaOf<Them>(newDepth, cply, i16(-alpha - 1), i16(-alpha));
            if (s > alpha && s < beta) s = -AlphaBetaOf<Them>(newDepth, cply, i16(-beta), i16(-s));
        }
        UnmakeOf<Us>(m);
        if (StopSearch) return 0;
        if (s > best) {
            if (s > alpha && s >= beta) {
                if (!inCheck && !m.captured) RewardQuietMove(m, newDepth, cply);
                Store(entry, m, BoundLower, depth, s, key);
                return i16(s);
            }
            if (s > alpha) alpha = i16(s);
            best = s;
            bestMove = m;
        }
    }

    if (bestMove == NullMove) return inCheck ? i16(cply - MateValue) : i16(0);
    if (!inCheck && !bestMove.captured) RewardQuietMove(bestMove, newDepth, cply);
    if (best > alpha0)
        Store(entry, bestMove, BoundExact, depth, alpha, key);
    else
        Store(entry, bestMove, BoundUpper, depth, best, key);
    return alpha;
}
}  // namespace

i16 AlphaBeta(u8 depth, u8 ply, i16 alpha, i16 beta) {
    return Board.SideToMove == White ? AlphaBetaOf<White>(depth, ply, alpha, beta)
                                     : AlphaBetaOf<Black>(depth, ply, alpha, beta);
}
