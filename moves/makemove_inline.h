// The bodies of make and unmake, for the hot loops (perft, the search) that inline them; everything
// else calls the functions of moves/makemove.h.
#pragma once
#include <cstddef>
#include <cstring>

#include "board/attacks.h"
#include "moves/makemove.h"

template <int Us>
VORNA_INLINE Bitboard& OwnPieces() { return Us == White ? Board.WhitePieces : Board.BlackPieces; }

// The rook's corner and its square after castling, from the king's target square.
inline constexpr int CastlingCorner(int from, int to) { return to > from ? to + 1 : to - 2; }
inline constexpr int CastlingRookTo(int from, int to) { return to > from ? to - 1 : to + 1; }

// The castling rook of Us steps from one of its two squares to the other (and back in unmake).
template <int Us>
VORNA_INLINE void MoveCastlingRook(int from, int to) {
    constexpr PieceCode Rook = Piece<Us>(4);
    Bitboard both = SquareBit[from] | SquareBit[to];
    Board.PieceBB[Rook] ^= both;
    OwnPieces<Us>() ^= both;
    Board.Mailbox[to] = Rook;
    Board.Mailbox[from] = 0;
}

// The home squares of kings and rooks: a move that starts or ends on one may cost castling rights.
inline constexpr Bitboard CastlingSquares = 0x9100000000000091ull;  // a8 e8 h8 a1 e1 h1

// The piece arrays of a position, copied by a loop over its moves that makes and unmakes each of them at
// once (the last perft ply): make then writes the changed sets as the copy's sets with the move's squares
// flipped, and unmake writes the copy's values back. Neither reads what the move before stored, so one
// leaf does not wait for the last.
struct BoardCopy {
    PieceCode Mailbox[64];
    Bitboard PieceBB[13];
    Bitboard WhitePieces;
    Bitboard BlackPieces;
};

// The board's sets flipped in place (NoCopy) or written from the copy.
struct NoCopy {
    static constexpr bool Copied = false;
    static constexpr bool KeepsOwn = false;
};
template <class Copy>
VORNA_INLINE void FlipSet(const Copy& copy, Bitboard& set, Bitboard bits) {
    if constexpr (Copy::Copied)
        set = copy.Of(set) ^ bits;
    else
        set ^= bits;
}
template <class Copy>
VORNA_INLINE void RestoreSet(const Copy& copy, Bitboard& set, Bitboard bits) {
    if constexpr (Copy::Copied)
        set = copy.Of(set);
    else
        set ^= bits;
}

// The own colour's set, flipped in place or written from the value the context holds.
template <class Copy>
VORNA_INLINE void FlipOwn(const Copy& copy, Bitboard& own, Bitboard bits) {
    if constexpr (Copy::KeepsOwn)
        own = copy.own ^ bits;
    else
        FlipSet(copy, own, bits);
}
template <class Copy>
VORNA_INLINE void RestoreOwn(const Copy& copy, Bitboard& own, Bitboard bits) {
    if constexpr (Copy::KeepsOwn)
        own = copy.own;
    else
        RestoreSet(copy, own, bits);
}

// The set of the moving piece p of Us, flipped in place, or for a piece other than the king written from
// the value the context holds (the generator hands over the moves of one piece one after the other).
template <int Us, class Copy>
VORNA_INLINE void FlipMover(const Copy& copy, Bitboard* bb, PieceCode p, Bitboard bits) {
    if constexpr (Copy::KeepsOwn) {
        if (p != Piece<Us>(6)) {
            bb[p] = copy.pieces[p - Piece<Us>(1)] ^ bits;
            return;
        }
    }
    FlipSet(copy, bb[p], bits);
}
template <int Us, class Copy>
VORNA_INLINE void RestoreMover(const Copy& copy, Bitboard* bb, PieceCode p, Bitboard bits) {
    if constexpr (Copy::KeepsOwn) {
        if (p != Piece<Us>(6)) {
            bb[p] = copy.pieces[p - Piece<Us>(1)];
            return;
        }
    }
    RestoreSet(copy, bb[p], bits);
}

// The piece on a square of the position the context was taken of. A caller that knows the piece of an
// ordinary move (the generator that has just produced it) passes it as mover; 0 = not known.
template <class Copy>
VORNA_INLINE PieceCode PieceOn(const Copy& copy, unsigned square, PieceCode mover) {
    if (mover) return mover;
    if constexpr (Copy::Copied)
        return copy.Piece(square);
    else
        return Board.Mailbox[square];
}
// The piece that made an ordinary move, before it is taken back.
template <class Copy>
VORNA_INLINE PieceCode MovedPiece(const Copy& copy, unsigned from, unsigned to, PieceCode mover) {
    if (mover) return mover;
    if constexpr (Copy::Copied)
        return copy.Piece(from);
    else
        return Board.Mailbox[to];
}

// Takes the pieces of the move word w back: the board arrays of unmake, without the record and the side.
template <int Us, class Copy = NoCopy>
VORNA_INLINE void RestoreOf(u32 w, const Copy& copy = Copy(), PieceCode mover = 0) {
    constexpr PieceCode Pawn = Piece<Us>(1);
    constexpr int Forward = Us == White ? -8 : 8;
    Bitboard& own = OwnPieces<Us>();
    Bitboard& enemy = OwnPieces<1 - Us>();
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    const int from = w & 0xFF, to = (w >> 8) & 0xFF;
    const Bitboard fromTo = SquareBit[from] | SquareBit[to];
    if (w < 0x10000) {
        // A quiet ordinary move, the commonest kind.
        RestoreOwn(copy, own, fromTo);
        PieceCode p = MovedPiece(copy, from, to, mover);
        RestoreMover<Us>(copy, bb, p, fromTo);
        mailbox[from] = p;
        mailbox[to] = 0;
    } else if (!(w & 0xFF0000)) {
        // An ordinary capture on the target square.
        RestoreOwn(copy, own, fromTo);
        const PieceCode captured = PieceCode(w >> 24);
        PieceCode p = MovedPiece(copy, from, to, mover);
        RestoreMover<Us>(copy, bb, p, fromTo);
        mailbox[from] = p;
        mailbox[to] = captured;
        RestoreSet(copy, bb[captured], SquareBit[to]);
        RestoreSet(copy, enemy, SquareBit[to]);
    } else {
        // the kind tells the piece that moved
        constexpr PieceCode King = Piece<Us>(6);
        const unsigned kind = (w >> 16) & 0xFF;
        own ^= fromTo;
        mailbox[to] = 0;
        if (kind & 15) {
            bb[kind] ^= SquareBit[to];
            bb[Pawn] ^= SquareBit[from];
            mailbox[from] = Pawn;
            if (const unsigned captured = w >> 24) {
                mailbox[to] = PieceCode(captured);
                bb[captured] ^= SquareBit[to];
                enemy ^= SquareBit[to];
            }
        } else if (kind == KindDoublePush) {
            bb[Pawn] ^= fromTo;
            mailbox[from] = Pawn;
        } else if (kind == KindCastling) {
            bb[King] ^= fromTo;
            mailbox[from] = King;
            MoveCastlingRook<Us>(CastlingRookTo(from, to), CastlingCorner(from, to));
        } else {
            // the en-passant victim stands behind the target square
            constexpr PieceCode EnemyPawn = Piece<1 - Us>(1);
            bb[Pawn] ^= fromTo;
            mailbox[from] = Pawn;
            const unsigned victim = to - Forward;
            mailbox[victim] = EnemyPawn;
            bb[EnemyPawn] ^= SquareBit[victim];
            enemy ^= SquareBit[victim];
        }
    }
}

template <int Us>
VORNA_INLINE void UnmakeOf(Move m) {
    RestoreOf<Us>(MoveWord(m));
    --Board.CurrentState;
    Board.SideToMove = u8(Us);
}

// The test for a move of another piece than the king, not en passant, when the caller has stored the
// check state of the position (StoreCheckState): the move must reach CheckBlocks (every square unless the
// king is in check); a piece that is not pinned then cannot expose the king, a pinned one answers no
// check and, outside check, only exposes the king when it leaves the line through its origin, which one
// slider lookup decides.
template <int Us>
VORNA_INLINE bool PieceMoveExposes(unsigned from, unsigned to, const PositionState* old) {
    constexpr int Them = 1 - Us;
    if (!HasSquare(old->CheckBlocks, to, SquareBit[to])) return true;
    if (!HasSquare(old->Pinned, from, SquareBit[from])) return false;
    if (old->InCheck) return true;
    const Bitboard* bb = Board.PieceBB;
    const int king = LowestSquare(bb[Piece<Us>(6)]);
    const Bitboard queens = bb[Piece<Them>(5)];
    if (BishopRays[king] & SquareBit[from])
        return (BishopAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(3)] | queens)) != 0;
    return (RookAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(4)] | queens)) != 0;
}

// Legality: the mover's king may not be attacked after the move. When the caller has stored the check
// state of the position, only a king move and en passant get the full attack test.
template <int Us, bool CheckStored>
VORNA_INLINE bool LeavesKingAttacked(unsigned from, unsigned to, int kind, const PositionState* old) {
    const int king = LowestSquare(Board.PieceBB[Piece<Us>(6)]);
    if (CheckStored && unsigned(king) != to && kind != KindEnPassant) return PieceMoveExposes<Us>(from, to, old);
    return AttackedBy<1 - Us>(king);
}

// The same test out of line, for the moves of risky origins among the ordinary ones: the loop around
// the commonest moves keeps its registers.
template <int Us, bool CheckStored>
__attribute__((noinline, pure)) bool ExposesKing(unsigned from, unsigned to, const PositionState* old) {
    return LeavesKingAttacked<Us, CheckStored>(from, to, 0, old);
}

// The test of a king move to the target square, out of line.
template <int Us>
__attribute__((noinline, pure)) bool KingMoveExposes(unsigned to) {
    return AttackedBy<1 - Us>(int(to));
}

// What make needs of the position it starts from. It is the same for every move of a position, so a
// loop over a move list gets it once (the position is the same again after each unmake).
struct MakeContext {
    static constexpr bool Copied = false;
    static constexpr bool KeepsOwn = false;    // the own colour's set before the move is at hand
    static constexpr bool CountsNodes = true;  // make counts a legal move in NodeCount
    PositionState* state;  // the current record
    u64 keyBase;           // its key with the en-passant square taken out and the move passed
    Bitboard risky;        // origins whose moves need the attack test
    Bitboard castling;     // squares on which a move starts or ends costs a castling right still held
                           // (the 32-bit program reads the rights' table instead)
#ifdef VORNA_32BIT_ARITH
    // The 32-bit program tests the one origin that is mostly the only risky one, the king's, by its
    // number, and looks into risky only when there are others (pins, a check).
    unsigned riskyKing;
    bool riskyOthers;
    // It also keeps the castling rights at hand: the record's address would take one more register.
    unsigned rights;
#endif
};

// The context of a loop that unmakes every move right after making it, with the copy of the piece arrays.
struct CopiedContext : MakeContext {
    static constexpr bool Copied = true;
    PieceCode mailbox[64];
    Bitboard sets[15];  // the piece sets by code, then White's and Black's pieces, as the board holds them
    // The copy's value of one of the board's sets.
    VORNA_INLINE Bitboard Of(const Bitboard& set) const { return sets[&set - Board.PieceBB]; }
    VORNA_INLINE PieceCode Piece(unsigned square) const { return mailbox[square]; }
};
// The context of the 32-bit program's loop that unmakes every move right after making it: make writes the
// own colour's set and the moving piece's set (but the king's) from the values held here, unmake writes
// those values back, and the loop counts the legal moves itself. A leaf then neither waits for the sets
// the move before stored nor adds to the counter in memory.
struct LeafContext : MakeContext {
    static constexpr bool KeepsOwn = true;
    static constexpr bool CountsNodes = false;
    Bitboard own;
    Bitboard pieces[5];  // the own colour's pawns, knights, bishops, rooks and queens
};

static_assert(offsetof(BoardData, WhitePieces) == offsetof(BoardData, PieceBB) + 13 * sizeof(Bitboard) &&
              offsetof(BoardData, BlackPieces) == offsetof(BoardData, PieceBB) + 14 * sizeof(Bitboard));

// Squares that cost one of the rights held when a move starts or ends on them.
inline Bitboard CastlingSquaresOf(u8 rights) {
    Bitboard squares = 0;
    if (rights & 3) squares |= SquareBit[E1] | (rights & 2 ? SquareBit[H1] : 0) | (rights & 1 ? SquareBit[A1] : 0);
    if (rights & 12) squares |= SquareBit[E8] | (rights & 8 ? SquareBit[H8] : 0) | (rights & 4 ? SquareBit[A8] : 0);
    return squares;
}

// The current record, reached through the stack itself: the compiler then sees that the stores into the
// records do not touch NodeCount or a caller's locals, and keeps those in registers.
VORNA_INLINE PositionState* CurrentRecord() {
    long index = Board.CurrentState - Board.StateStack;
    asm("" : "+r"(index));  // keeps the compiler from folding the address back into the pointer
    return &Board.StateStack[index];
}

template <int Us, bool CheckStored>
VORNA_INLINE MakeContext MakeContextOf() {
    PositionState* old = CurrentRecord();
    const Bitboard risky = CheckStored ? old->RiskyOrigins : ~Bitboard(0);
#ifdef VORNA_32BIT_ARITH
    const unsigned king = unsigned(LowestSquare(Board.PieceBB[Piece<Us>(6)]));
    bool others = risky != SquareBit[king];
    asm("" : "+r"(others));  // a value to keep, not a comparison the loops would repeat for every piece
    return MakeContext{old, old->HashKey ^ EpKeys[old->EpSquare] ^ SideKey, risky, 0,
                       king, others, old->CastleRights};
#else
    return MakeContext{old, old->HashKey ^ EpKeys[old->EpSquare] ^ SideKey, risky,
                       CastlingSquaresOf(old->CastleRights)};
#endif
}

// Fills the loop's context in place (the 32-bit program's loop is slower with one returned by value).
template <int Us>
VORNA_INLINE void FillLeafContext(LeafContext& context) {
    static_cast<MakeContext&>(context) = MakeContextOf<Us, true>();
    context.own = OwnPieces<Us>();
    // five stores of whole sets (a loop over them stays a loop of ten 32-bit copies)
    const Bitboard* own = &Board.PieceBB[Piece<Us>(1)];
    context.pieces[0] = own[0], context.pieces[1] = own[1], context.pieces[2] = own[2];
    context.pieces[3] = own[3], context.pieces[4] = own[4];
}

template <int Us>
VORNA_INLINE CopiedContext CopiedContextOf() {
    CopiedContext context;
    static_cast<MakeContext&>(context) = MakeContextOf<Us, true>();
    std::memcpy(context.mailbox, Board.Mailbox, sizeof context.mailbox);
    std::memcpy(context.sets, Board.PieceBB, sizeof context.sets);
    return context;
}

// Whether the moves from the origin need the attack test.
// A known mover other than the king does not start on the king's square.
VORNA_INLINE bool RiskyOrigin(const MakeContext& context, unsigned from, Bitboard fromBit, PieceCode mover) {
#ifdef VORNA_32BIT_ARITH
    return (!mover && from == context.riskyKing) || (context.riskyOthers && HasSquare(context.risky, from, fromBit));
#else
    (void)from, (void)mover;
    return (context.risky & fromBit) != 0;
#endif
}

// The castling rights and the en-passant square of a new record, in one store.
VORNA_INLINE void StoreRightsAndEp(PositionState* st, unsigned rights, unsigned ep) {
    static_assert(offsetof(PositionState, EpSquare) == offsetof(PositionState, CastleRights) + 1);
    const u16 both = u16(rights | ep << 8);
    std::memcpy(&st->CastleRights, &both, sizeof both);
}

// The rest of make for an ordinary move (kind 0), a capture on the target square or not; the castling
// rights and the own colour's set are done.
template <int Us, bool CheckStored, bool Capture, class Context>
VORNA_INLINE bool PlayOrdinary(const Context& context, u32 w, Bitboard fromBit, Bitboard toBit, u64 key,
                               unsigned rights, PieceCode mover) {
    constexpr int Them = 1 - Us;
    const unsigned from = w & 0xFF, to = (w >> 8) & 0xFF;
    const Bitboard fromTo = fromBit | toBit;
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    PositionState* old = context.state;
    PositionState* st = old + 1;
    const PieceCode p = PieceOn(context, from, mover);
    if (Capture) {
        const unsigned c = w >> 24;
        FlipSet(context, bb[c], toBit);
        FlipSet(context, OwnPieces<Them>(), toBit);
        const u64* keys = PieceSquareKeys[c];
        key ^= keys[to];
    }
    FlipMover<Us>(context, bb, p, fromTo);
    mailbox[to] = p;
    mailbox[from] = 0;
    StoreRightsAndEp(st, rights, 0);
    const u64* keys = PieceSquareKeys[p];
    st->HashKey = key ^ keys[from] ^ keys[to];
    // A king move known as such goes straight to the attack test of its target.
    const bool exposed = mover == Piece<Us>(6) ? KingMoveExposes<Us>(to)
                                               : RiskyOrigin(context, from, fromBit, mover) &&
                                                     ExposesKing<Us, CheckStored>(from, to, old);
    if (exposed) {
        RestoreOf<Us>(w, context, p);
        return false;
    }
    st->Reversible = !Capture && p != Piece<Us>(1);
    if constexpr (Context::CountsNodes) ++NodeCount;
    Board.SideToMove = u8(Them);
    Board.CurrentState = st;
    return true;
}

template <int Us, bool CheckStored, class Context>
VORNA_INLINE bool MakeWith(const Context& context, Move m, PieceCode mover = 0) {
    constexpr int Them = 1 - Us;
    constexpr PieceCode Pawn = Piece<Us>(1), Rook = Piece<Us>(4);
    constexpr PieceCode EnemyPawn = Piece<Them>(1);
    constexpr int Forward = Us == White ? -8 : 8;
    Bitboard& own = OwnPieces<Us>();
    Bitboard& enemy = OwnPieces<Them>();
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    const u32 w = MoveWord(m);
    const unsigned from = w & 0xFF, to = (w >> 8) & 0xFF;

    PositionState* old = context.state;
    PositionState* st = old + 1;
    const Bitboard fromBit = SquareBit[from], toBit = SquareBit[to], fromTo = fromBit | toBit;
    u64 key = context.keyBase;
#ifdef VORNA_32BIT_ARITH
    unsigned rights = context.rights;
    // The 32-bit program reads the table for every move: testing a 64-bit mask costs it more.
    const unsigned touched = CastleMask[from] & CastleMask[to];
    if (touched != 15) {
        const unsigned kept = rights & touched;
#else
    unsigned rights = old->CastleRights;
    if (fromTo & context.castling) {
        const unsigned kept = rights & CastleMask[from] & CastleMask[to];
#endif
        key ^= CastleKeys[rights] ^ CastleKeys[kept];
        rights = kept;
    }
    FlipOwn(context, own, fromTo);

    // Ordinary moves, the commonest kind, quiet ones first. Only a king move, a pinned piece or a move out
    // of check needs the attack test: their origins are risky.
    if (w < 0x10000) return PlayOrdinary<Us, CheckStored, false>(context, w, fromBit, toBit, key, rights, mover);
    if (!(w & 0xFF0000)) return PlayOrdinary<Us, CheckStored, true>(context, w, fromBit, toBit, key, rights, mover);

    // Promotions, double pushes, castling and en passant: the kind tells the piece that moves.
    constexpr PieceCode King = Piece<Us>(6);
    const unsigned kind = (w >> 16) & 0xFF;
    unsigned ep = 0;
    if (kind & 15) {
        // a promotion, maybe with a capture on the target square
        if (const unsigned c = w >> 24) {
            bb[c] ^= toBit;
            enemy ^= toBit;
            key ^= PieceSquareKeys[c][to];
        }
        bb[Pawn] ^= fromBit;
        bb[kind] ^= toBit;
        mailbox[to] = PieceCode(kind);
        key ^= PieceSquareKeys[Pawn][from] ^ PieceSquareKeys[kind][to];
    } else if (kind == KindDoublePush) {
        bb[Pawn] ^= fromTo;
        mailbox[to] = Pawn;
        ep = to - Forward;
        key ^= PieceSquareKeys[Pawn][from] ^ PieceSquareKeys[Pawn][to] ^ EpKeys[ep];
    } else if (kind == KindCastling) {
        bb[King] ^= fromTo;
        mailbox[to] = King;
        int corner = CastlingCorner(from, to), rookTo = CastlingRookTo(from, to);
        MoveCastlingRook<Us>(corner, rookTo);
        key ^= PieceSquareKeys[King][from] ^ PieceSquareKeys[King][to] ^ PieceSquareKeys[Rook][corner] ^
               PieceSquareKeys[Rook][rookTo];
    } else {
        // en passant: the victim stands behind the target square
        bb[Pawn] ^= fromTo;
        mailbox[to] = Pawn;
        const unsigned victim = to - Forward;
        mailbox[victim] = 0;
        enemy ^= SquareBit[victim];
        bb[EnemyPawn] ^= SquareBit[victim];
        key ^= PieceSquareKeys[Pawn][from] ^ PieceSquareKeys[Pawn][to] ^ PieceSquareKeys[EnemyPawn][victim];
    }
    mailbox[from] = 0;
    StoreRightsAndEp(st, rights, ep);
    st->HashKey = key;
    // A promotion or a double push moves a pawn, neither the king nor by en passant.
    const bool exposed = kind & (15 | KindDoublePush) ? CheckStored ? PieceMoveExposes<Us>(from, to, old)
                                                                      : LeavesKingAttacked<Us, false>(from, to, kind, old)
                                                       : LeavesKingAttacked<Us, CheckStored>(from, to, kind, old);
    if (exposed) {
        RestoreOf<Us>(w);
        return false;
    }
    st->Reversible = 0;
    if constexpr (Context::CountsNodes) ++NodeCount;
    Board.SideToMove = u8(Them);
    Board.CurrentState = st;
    return true;
}

// Unmake for a loop that made the move with this context: the record to return to is known.
template <int Us, class Context>
VORNA_INLINE void UnmakeWith(const Context& context, Move m, PieceCode mover = 0) {
    RestoreOf<Us>(MoveWord(m), context, mover);
    Board.CurrentState = context.state;
    Board.SideToMove = u8(Us);
}

template <int Us, bool CheckStored>
VORNA_INLINE bool MakeOf(Move m) { return MakeWith<Us, CheckStored>(MakeContextOf<Us, CheckStored>(), m); }

// Pieces of Us that stand alone between their king and an enemy slider on the slider's line.
template <int Us>
VORNA_INLINE Bitboard PinnedPieces(int king) {
    constexpr int Them = 1 - Us;
    const Bitboard* bb = Board.PieceBB;
    Bitboard queens = bb[Piece<Them>(5)];
    Bitboard snipers = (RookRays[king] & (bb[Piece<Them>(4)] | queens)) |
                       (BishopRays[king] & (bb[Piece<Them>(3)] | queens));
    Bitboard occ = Occupancy(), pinned = 0;
    while (snipers) {
        Bitboard between = BetweenSquares[king][PopLowest(snipers)] & occ;
        if (!(between & (between - 1))) pinned |= between;
    }
    return pinned & OwnPieces<Us>();
}

// What make's short legality test needs of the position of the side to move Us, whose king is on king
// and whose InCheck is stored already: RiskyOrigins, Pinned and CheckBlocks.
template <int Us>
VORNA_INLINE void StoreLegalityOf(PositionState* st, int king) {
    const Bitboard pinned = PinnedPieces<Us>(king);
    st->Pinned = pinned;
    if (!st->InCheck) {
        st->RiskyOrigins = pinned | SquareBit[king];
        st->CheckBlocks = ~Bitboard(0);
        return;
    }
    st->RiskyOrigins = ~Bitboard(0);
    const Bitboard checkers = AttackersOf<1 - Us>(king);
    // in a double check only the king can move
    st->CheckBlocks = (checkers & (checkers - 1)) ? 0 : checkers | BetweenSquares[king][LowestSquare(checkers)];
}

// The legality data of the side to move Us, whose InCheck is stored already (see StoreRiskyOrigins).
template <int Us>
VORNA_INLINE void StoreRiskyOriginsOf() {
    StoreLegalityOf<Us>(Board.CurrentState, LowestSquare(Board.PieceBB[Piece<Us>(6)]));
}

// Stores InCheck and the legality data of the side to move Us into the current record (see
// StoreCheckState).
template <int Us>
VORNA_INLINE bool StoreCheckStateOf() {
    PositionState* st = Board.CurrentState;
    const int king = LowestSquare(Board.PieceBB[Piece<Us>(6)]);
    const bool inCheck = AttackedBy<1 - Us>(king);
    st->InCheck = inCheck;
    StoreLegalityOf<Us>(st, king);
    return inCheck;
}
