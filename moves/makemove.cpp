#include "moves/makemove.h"

#include "board/attacks.h"

u64 NodeCount = 0;

namespace {
template <int Us>
inline Bitboard& OwnPieces() { return Us == White ? Board.WhitePieces : Board.BlackPieces; }

// Kinds other than these two move one piece and maybe take one on the target square.
constexpr u8 SpecialKinds = 15 | KindCastling | KindEnPassant;

template <int Us>
void Unmake(Move m) {
    constexpr PieceCode Pawn = Piece<Us>(1), Rook = Piece<Us>(4);
    constexpr int Forward = Us == White ? -8 : 8;
    Bitboard& own = OwnPieces<Us>();
    Bitboard& enemy = OwnPieces<1 - Us>();
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    const int from = m.from, to = m.to;
    Bitboard fromTo = SquareBit[from] | SquareBit[to];
    own ^= fromTo;
    if (!(m.kind & SpecialKinds)) {
        PieceCode p = mailbox[to];
        bb[p] ^= fromTo;
        mailbox[from] = p;
        mailbox[to] = m.captured;
        if (m.captured) {
            bb[m.captured] ^= SquareBit[to];
            enemy ^= SquareBit[to];
        }
    } else {
        if (m.kind & 15) {
            bb[m.kind] ^= SquareBit[to];
            bb[Pawn] ^= SquareBit[from];
            mailbox[from] = Pawn;
        } else {
            PieceCode p = mailbox[to];
            bb[p] ^= fromTo;
            mailbox[from] = p;
        }
        mailbox[to] = 0;
        if (m.captured) {
            // the en-passant victim stands behind the target square
            int victim = m.kind == KindEnPassant ? to - Forward : to;
            mailbox[victim] = m.captured;
            bb[m.captured] ^= SquareBit[victim];
            enemy ^= SquareBit[victim];
        }
        if (m.kind == KindCastling) {
            int corner = to > from ? to + 1 : to - 2;
            int rookTo = to > from ? to - 1 : to + 1;
            Bitboard both = SquareBit[corner] | SquareBit[rookTo];
            bb[Rook] ^= both;
            own ^= both;
            mailbox[corner] = Rook;
            mailbox[rookTo] = 0;
        }
    }
    --Board.CurrentState;
    Board.SideToMove = u8(Us);
}

// Legality: the mover's king may not be attacked after the move. When the caller has stored the
// check state of the position (InCheck) and the king was not in check, a move of another piece can
// only expose the king along the line through its origin, so one slider lookup (or none, when the
// origin is not on a line with the king) decides; king moves, en passant and moves out of check get
// the full attack test.
template <int Us, bool CheckStored>
inline bool LeavesKingAttacked(Move m, const PositionState* old) {
    constexpr int Them = 1 - Us;
    const Bitboard* bb = Board.PieceBB;
    int king = LowestSquare(bb[Piece<Us>(6)]);
    if (CheckStored && !old->InCheck && m.to != king && m.kind != KindEnPassant) {
        Bitboard from = SquareBit[m.from];
        Bitboard queens = bb[Piece<Them>(5)];
        if (BishopRays[king] & from)
            return (BishopAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(3)] | queens)) != 0;
        if (RookRays[king] & from)
            return (RookAttacksFrom(king, Occupancy()) & (bb[Piece<Them>(4)] | queens)) != 0;
        return false;
    }
    return AttackedBy<Them>(king);
}

template <int Us, bool CheckStored>
bool Make(Move m) {
    constexpr int Them = 1 - Us;
    constexpr PieceCode Pawn = Piece<Us>(1), Rook = Piece<Us>(4);
    constexpr PieceCode EnemyPawn = Piece<Them>(1);
    constexpr int Forward = Us == White ? -8 : 8;
    Bitboard& own = OwnPieces<Us>();
    Bitboard& enemy = OwnPieces<Them>();
    PieceCode* mailbox = Board.Mailbox;
    Bitboard* bb = Board.PieceBB;
    const int from = m.from, to = m.to;

    PositionState* old = Board.CurrentState;
    PositionState* st = old + 1;
    Board.CurrentState = st;
    u8 rights = u8(CastleMask[from] & CastleMask[to] & old->CastleRights);
    st->CastleRights = rights;
    u64 key = old->HashKey ^ CastleKeys[old->CastleRights] ^ EpKeys[old->EpSquare];

    Bitboard fromTo = SquareBit[from] | SquareBit[to];
    own ^= fromTo;
    if (!(m.kind & SpecialKinds)) {
        PieceCode p = mailbox[from];
        if (m.captured) {
            PieceCode c = mailbox[to];
            bb[c] ^= SquareBit[to];
            enemy ^= SquareBit[to];
            key ^= PieceSquareKeys[c][to];
        }
        bb[p] ^= fromTo;
        mailbox[to] = p;
        mailbox[from] = 0;
        key ^= PieceSquareKeys[p][from] ^ PieceSquareKeys[p][to];
        st->EpSquare = 0;
        if (m.kind == KindDoublePush) {
            st->EpSquare = u8(to - Forward);
            key ^= EpKeys[to - Forward];
        }
    } else {
        if (m.captured) {
            if (m.kind == KindEnPassant) {
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
        if (m.kind & 15) {
            bb[Pawn] ^= SquareBit[from];
            bb[m.kind] ^= SquareBit[to];
            mailbox[to] = m.kind;
            key ^= PieceSquareKeys[Pawn][from] ^ PieceSquareKeys[m.kind][to];
        } else {
            PieceCode p = mailbox[from];
            bb[p] ^= fromTo;
            mailbox[to] = p;
            key ^= PieceSquareKeys[p][from] ^ PieceSquareKeys[p][to];
        }
        mailbox[from] = 0;
        st->EpSquare = 0;
        if (m.kind == KindCastling) {
            int corner = to > from ? to + 1 : to - 2;
            int rookTo = to > from ? to - 1 : to + 1;
            Bitboard both = SquareBit[corner] | SquareBit[rookTo];
            bb[Rook] ^= both;
            own ^= both;
            mailbox[rookTo] = Rook;
            mailbox[corner] = 0;
            key ^= PieceSquareKeys[Rook][corner] ^ PieceSquareKeys[Rook][rookTo];
        }
    }
    st->HashKey = key ^ CastleKeys[rights] ^ SideKey;

    if (LeavesKingAttacked<Us, CheckStored>(m, old)) {
        Unmake<Us>(m);
        return false;
    }
    st->Reversible = (m.captured | m.kind) == 0 && mailbox[to] != Pawn;
    ++NodeCount;
    Board.SideToMove = u8(Them);
    return true;
}
}  // namespace

bool MakeWhiteMove(Move m) { return Make<White, false>(m); }
bool MakeBlackMove(Move m) { return Make<Black, false>(m); }
void UnmakeWhiteMove(Move m) { Unmake<White>(m); }
void UnmakeBlackMove(Move m) { Unmake<Black>(m); }

template <int Us>
bool MakeKnownCheck(Move m) { return Make<Us, true>(m); }
template bool MakeKnownCheck<White>(Move);
template bool MakeKnownCheck<Black>(Move);

bool MakeMove(Move m) { return Board.SideToMove == White ? Make<White, false>(m) : Make<Black, false>(m); }
bool MakeMoveKnownCheck(Move m) { return Board.SideToMove == White ? Make<White, true>(m) : Make<Black, true>(m); }
void UnmakeMove(Move m) {
    if (Board.SideToMove == White)
        Unmake<Black>(m);
    else
        Unmake<White>(m);
}

bool SideToMoveInCheck() {
    return Board.SideToMove == White ? AttackedBy<Black>(KingSquare(White)) : AttackedBy<White>(KingSquare(Black));
}
