// The bodies of make and unmake, for the hot loops (perft, the search) that inline them; everything
// else calls the functions of moves/makemove.h.
#pragma once
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

template <int Us>
VORNA_INLINE void UnmakeOf(Move m) {
    constexpr PieceCode Pawn = Piece<Us>(1);
    constexpr int Forward = Us == White ? -8 : 8;
    Bitboard& own = OwnPieces<Us>();
    Bitboard& enemy = OwnPieces<1 - Us>();
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    const u32 w = MoveWord(m);
    const int from = w & 0xFF, to = (w >> 8) & 0xFF;
    const Bitboard fromTo = SquareBit[from] | SquareBit[to];
    own ^= fromTo;
    if (!(w & 0xFF0000)) {
        // An ordinary move, the commonest kind, maybe with a capture on the target square.
        const PieceCode captured = PieceCode(w >> 24);
        PieceCode p = mailbox[to];
        bb[p] ^= fromTo;
        mailbox[from] = p;
        mailbox[to] = captured;
        if (captured) {
            bb[captured] ^= SquareBit[to];
            enemy ^= SquareBit[to];
        }
    } else {
        const int kind = (w >> 16) & 0xFF, captured = w >> 24;
        if (kind & 15) {
            bb[kind] ^= SquareBit[to];
            bb[Pawn] ^= SquareBit[from];
            mailbox[from] = Pawn;
        } else {
            PieceCode p = mailbox[to];
            bb[p] ^= fromTo;
            mailbox[from] = p;
        }
        mailbox[to] = 0;
        if (captured) {
            // the en-passant victim stands behind the target square
            int victim = kind == KindEnPassant ? to - Forward : to;
            mailbox[victim] = PieceCode(captured);
            bb[captured] ^= SquareBit[victim];
            enemy ^= SquareBit[victim];
        }
        if (kind == KindCastling) MoveCastlingRook<Us>(CastlingRookTo(from, to), CastlingCorner(from, to));
    }
    --Board.CurrentState;
    Board.SideToMove = u8(Us);
}

// Legality: the mover's king may not be attacked after the move. When the caller has stored the check
// state of the position (InCheck and RiskyOrigins) and the king was not in check, a move of a piece that
// is not pinned cannot expose the king, and a pinned piece only exposes it when it leaves the line
// through its origin, which one slider lookup decides. King moves, en passant and moves out of check get
// the full attack test.
template <int Us, bool CheckStored>
VORNA_INLINE bool LeavesKingAttacked(int from, int to, int kind, const PositionState* old) {
    constexpr int Them = 1 - Us;
    const Bitboard* bb = Board.PieceBB;
    int king = LowestSquare(bb[Piece<Us>(6)]);
    if (CheckStored && !old->InCheck && to != king && kind != KindEnPassant) {
        if (!(old->RiskyOrigins & SquareBit[from])) return false;
        Bitboard queens = bb[Piece<Them>(5)];
        if (BishopRays[king] & SquareBit[from])
            return (BishopAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(3)] | queens)) != 0;
        return (RookAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(4)] | queens)) != 0;
    }
    return AttackedBy<Them>(king);
}

// What make needs of the position it starts from. It is the same for every move of a position, so a
// loop over a move list gets it once (the position is the same again after each unmake).
struct MakeContext {
    PositionState* state;  // the current record
    u64 keyBase;           // its key with the en-passant square taken out and the move passed
    Bitboard risky;        // origins whose moves need the attack test
};

template <int Us, bool CheckStored>
VORNA_INLINE MakeContext MakeContextOf() {
    PositionState* old = Board.CurrentState;
    return MakeContext{old, old->HashKey ^ EpKeys[old->EpSquare] ^ SideKey,
                       CheckStored ? old->RiskyOrigins : ~Bitboard(0)};
}

template <int Us, bool CheckStored>
VORNA_INLINE bool MakeWith(const MakeContext& context, Move m) {
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
    Board.CurrentState = st;
    const Bitboard fromBit = SquareBit[from], fromTo = fromBit | SquareBit[to];
    u8 rights = old->CastleRights;
    u64 key = context.keyBase;
#ifdef VORNA_32BIT_ARITH
    // The 32-bit program reads the table for every move: testing the 64-bit mask costs it more.
    const u8 kept = u8(rights & CastleMask[from] & CastleMask[to]);
    if (kept != rights) {
#else
    if (fromTo & CastlingSquares) {
        const u8 kept = u8(rights & CastleMask[from] & CastleMask[to]);
#endif
        key ^= CastleKeys[rights] ^ CastleKeys[kept];
        rights = kept;
    }
    st->CastleRights = rights;
    own ^= fromTo;

    if (!(w & 0xFF0000)) {
        // An ordinary move, the commonest kind, maybe with a capture on the target square. Only a king
        // move, a pinned piece or a move out of check needs the attack test: their origins are risky.
        PieceCode p = mailbox[from];
        if (w >> 24) {
            PieceCode c = mailbox[to];
            bb[c] ^= SquareBit[to];
            enemy ^= SquareBit[to];
            key ^= PieceSquareKeys[c][to];
        }
        bb[p] ^= fromTo;
        mailbox[to] = p;
        mailbox[from] = 0;
        st->HashKey = key ^ PieceSquareKeys[p][from] ^ PieceSquareKeys[p][to];
        st->EpSquare = 0;
        if (HasSquare(context.risky, from, fromBit) && LeavesKingAttacked<Us, CheckStored>(from, to, 0, old)) {
            UnmakeOf<Us>(m);
            return false;
        }
        st->Reversible = w < 0x1000000 && p != Pawn;
        ++NodeCount;
        Board.SideToMove = u8(Them);
        return true;
    }

    // Promotions, castling, en passant and double pushes.
    const int kind = (w >> 16) & 0xFF, captured = w >> 24;
    if (captured) {
        if (kind == KindEnPassant) {
            // the en-passant victim stands behind the target square
            int victim = to - Forward;
            mailbox[victim] = 0;
            enemy ^= SquareBit[victim];
            bb[EnemyPawn] ^= SquareBit[victim];
            key ^= PieceSquareKeys[EnemyPawn][victim];
        } else {
            PieceCode c = mailbox[to];
            bb[c] ^= SquareBit[to];
            enemy ^= SquareBit[to];
            key ^= PieceSquareKeys[c][to];
        }
    }
    if (kind & 15) {
        bb[Pawn] ^= fromBit;
        bb[kind] ^= SquareBit[to];
        mailbox[to] = PieceCode(kind);
        key ^= PieceSquareKeys[Pawn][from] ^ PieceSquareKeys[kind][to];
    } else {
        PieceCode p = mailbox[from];
        bb[p] ^= fromTo;
        mailbox[to] = p;
        key ^= PieceSquareKeys[p][from] ^ PieceSquareKeys[p][to];
    }
    mailbox[from] = 0;
    st->EpSquare = 0;
    if (kind == KindDoublePush) {
        st->EpSquare = u8(to - Forward);
        key ^= EpKeys[to - Forward];
    } else if (kind == KindCastling) {
        int corner = CastlingCorner(from, to), rookTo = CastlingRookTo(from, to);
        MoveCastlingRook<Us>(corner, rookTo);
        key ^= PieceSquareKeys[Rook][corner] ^ PieceSquareKeys[Rook][rookTo];
    }
    st->HashKey = key;
    if (LeavesKingAttacked<Us, CheckStored>(from, to, kind, old)) {
        UnmakeOf<Us>(m);
        return false;
    }
    st->Reversible = 0;
    ++NodeCount;
    Board.SideToMove = u8(Them);
    return true;
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

// RiskyOrigins of the side to move Us, whose InCheck is stored already (see StoreRiskyOrigins).
template <int Us>
VORNA_INLINE void StoreRiskyOriginsOf() {
    PositionState* st = Board.CurrentState;
    int king = LowestSquare(Board.PieceBB[Piece<Us>(6)]);
    st->RiskyOrigins = st->InCheck ? ~Bitboard(0) : PinnedPieces<Us>(king) | SquareBit[king];
}

// Stores InCheck and RiskyOrigins of the side to move Us into the current record (see StoreCheckState).
template <int Us>
VORNA_INLINE bool StoreCheckStateOf() {
    PositionState* st = Board.CurrentState;
    int king = LowestSquare(Board.PieceBB[Piece<Us>(6)]);
    bool inCheck = AttackedBy<1 - Us>(king);
    st->InCheck = inCheck;
    st->RiskyOrigins = inCheck ? ~Bitboard(0) : PinnedPieces<Us>(king) | SquareBit[king];
    return inCheck;
}
