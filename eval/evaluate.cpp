#include "eval/evaluate.h"

#include <algorithm>
#include <cstring>

#include "board/attacks.h"
#include "board/board.h"

// Rows run from rank 8 (first) to rank 1 (last), files a to h.
const i16 PassedPawnBonus[64] = {
     0,   0,   0,   0,   0,   0,   0,   0,
    45,  60,  55,  50,  50,  55,  60,  45,
    25,  40,  36,  31,  31,  36,  40,  25,
    13,  25,  22,  18,  18,  22,  25,  13,
     6,  15,  13,  10,  10,  13,  15,   6,
     4,   7,   6,   5,   5,   6,   7,   4,
     4,   7,   6,   5,   5,   6,   7,   4,
     0,   0,   0,   0,   0,   0,   0,   0,
};

const i16 KnightTable[64] = {
    -8,  -5,  -2,   1,   1,  -2,  -5,  -8,
    -5,   1,   3,   5,   5,   3,   1,  -5,
     2,   7,  11,  12,  12,  11,   7,   2,
     3,   7,  10,  12,  12,  10,   7,   3,
     2,   6,   9,  11,  11,   9,   6,   2,
    -2,   3,   7,   8,   8,   7,   3,  -2,
    -5,   1,   3,   5,   5,   3,   1,  -5,
    -8,  -5,  -2,   1,   1,  -2,  -5,  -8,
};

const i16 BishopTable[64] = {
    -3,   0,   2,   3,   3,   2,   0,  -3,
     0,   4,   4,   4,   4,   4,   4,   0,
     2,   5,   7,   7,   7,   7,   5,   2,
     3,   6,   7,  10,  10,   7,   6,   3,
     3,   6,   8,  10,  10,   8,   6,   3,
     2,   6,   9,   9,   9,   9,   6,   2,
     0,   7,   7,   7,   7,   7,   7,   0,
    -3,   0,   2,   3,   3,   2,   0,  -3,
};

// Deliberately not symmetric: the king is better off on the king side.
const i16 KingMiddleTable[64] = {
   -99, -99, -99, -99, -99, -99, -99, -99,
   -99, -99, -99, -99, -99, -99, -99, -99,
   -99, -99, -99, -99, -99, -99, -99, -99,
   -80, -85, -90, -99, -99, -90, -85, -80,
   -50, -55, -60, -80, -80, -60, -55, -50,
   -20, -25, -30, -40, -40, -30, -25, -20,
     0,  -5, -10, -20, -20,  -5,   0,   5,
     5,  10,   0, -10, -10,   0,  15,  10,
};

const i16 KingEndTable[64] = {
   -30, -20, -15, -10, -10, -15, -20, -30,
   -10,   0,  25,  30,  30,  25,   0, -10,
    -5,  25,  40,  45,  45,  40,  25,  -5,
    -5,  25,  40,  45,  45,  40,  25,  -5,
   -10,  20,  35,  40,  40,  35,  20, -10,
   -15,  15,  30,  35,  35,  30,  15, -15,
   -20,  10,  15,  20,  20,  15,  10, -20,
   -30, -20, -15, -10, -10, -15, -20, -30,
};

namespace {
constexpr int PawnValue = 100, KnightValue = 325, BishopValue = 325, RookValue = 500, QueenValue = 900;
constexpr int BishopPairBonus = 30, IsolatedPawnPenalty = 10;
constexpr int OpenFileBonus = 18, HalfOpenFileBonus = 6;

// Every term below is computed for one colour, Us, and is positive when it is good for Us. The tables
// are written for White; Black reads them on the reflected rank (Mirror).
constexpr Bitboard FileMaskA = 0x0101010101010101ull, FileMaskH = 0x8080808080808080ull;

// Each set square copied to every square below it (towards rank 1) or above it (towards rank 8).
constexpr Bitboard FillTowardsRank1(Bitboard b) {
    b |= b << 8;
    b |= b << 16;
    return b | b << 32;
}
constexpr Bitboard FillTowardsRank8(Bitboard b) {
    b |= b >> 8;
    b |= b >> 16;
    return b | b >> 32;
}
// The whole file of every set square.
constexpr Bitboard FillFiles(Bitboard b) { return FillTowardsRank1(FillTowardsRank8(b)); }

template <int Us>
constexpr int Relative(int s) { return Us == White ? s : s ^ 56; }

// Moves a set of squares n ranks back towards Us's own side of the board; squares pushed off the
// board are dropped.
template <int Us>
constexpr Bitboard Backward(Bitboard b, int n) { return Us == White ? b << (8 * n) : b >> (8 * n); }

// Shelter value of one square t for the pawns of Us: 0 with a pawn on t, 4 or 12 when the nearest pawn
// stands one or two squares further ahead, 15 with a pawn elsewhere on the file, else 20. The pawns are
// shifted back onto t rather than looking at t - 8 and t - 16, so no square index leaves the board.
template <int Us>
inline int ShelterOf(Bitboard pawns, int t) {
    Bitboard bit = SquareBit[t];
    if (pawns & bit) return 0;
    if (Backward<Us>(pawns, 1) & bit) return 4;
    if (Backward<Us>(pawns, 2) & bit) return 12;
    return (pawns & FileMask[FileOf(t)]) ? 15 : 20;
}

// The square s counts double, its neighbours on the same rank once.
template <int Us>
inline u16 Shelter(int s) {
    Bitboard pawns = Board.PieceBB[Piece<Us>(1)];
    int f = FileOf(s);
    int v = 2 * ShelterOf<Us>(pawns, s);
    if (f > 0) v += ShelterOf<Us>(pawns, s - 1);
    if (f < 7) v += ShelterOf<Us>(pawns, s + 1);
    return u16(v);
}

// Knights, bishops, rooks and queens: stores their material in material and returns their positional
// terms, all but the rooks' files, which come from the pawn entry (RookFileTerms).
template <int Us>
inline int PieceTerms(Bitboard occ, Bitboard own, int& material) {
    const Bitboard* bb = Board.PieceBB;
    int pos = 0;

    Bitboard knights = bb[Piece<Us>(2)];
    material = KnightValue * PopCount(knights);
    while (knights) pos += KnightTable[Relative<Us>(PopLowest(knights))];

    Bitboard bishops = bb[Piece<Us>(3)];
    material += BishopValue * PopCount(bishops);
    if (bishops & (bishops - 1)) pos += BishopPairBonus;
    while (bishops) {
        int s = PopLowest(bishops);
        // Mobility: empty squares and enemy pieces within reach.
        pos += BishopTable[Relative<Us>(s)] + 3 * PopCount(BishopAttacksFrom(s, occ) & ~own);
    }

    material += RookValue * PopCount(bb[Piece<Us>(4)]) + QueenValue * PopCount(bb[Piece<Us>(5)]);
    return pos;
}

// The rooks of Us on open and half-open files; ownFiles and theirFiles have bit f set when a pawn of
// that side stands on file f.
template <int Us>
inline int RookFileTerms(unsigned ownFiles, unsigned theirFiles) {
    Bitboard rooks = Board.PieceBB[Piece<Us>(4)];
#ifdef VORNA_32BIT_ARITH
    // Rook by rook: two bit counts cost the 32-bit program more than a short walk.
    constexpr int Bonus[4] = {OpenFileBonus, 0, HalfOpenFileBonus, 0};  // by own pawn (1), enemy pawn (2)
    int pos = 0;
    while (rooks) {
        int f = FileOf(PopLowest(rooks));
        pos += Bonus[((ownFiles >> f) & 1) | ((theirFiles >> f) & 1) << 1];
    }
    return pos;
#else
    // A set of files times the first square of every rank is the whole of those files.
    constexpr Bitboard EveryRank = 0x0101010101010101ull;
    Bitboard noOwnPawn = Bitboard(~ownFiles & 0xFF) * EveryRank;
    Bitboard noPawn = Bitboard(~(ownFiles | theirFiles) & 0xFF) * EveryRank;
    return HalfOpenFileBonus * PopCount(rooks & noOwnPawn) +
           (OpenFileBonus - HalfOpenFileBonus) * PopCount(rooks & noPawn);
#endif
}

// Isolated and passed pawns, worked out for all pawns at once: a pawn is isolated when no own pawn
// stands on a neighbouring file, and passed when no enemy pawn stands ahead of it on its own or a
// neighbouring file, i.e. when it is outside the squares behind every enemy pawn's front span.
template <int Us>
inline int PawnTerms(Bitboard own, Bitboard theirs) {
    constexpr Bitboard NotFileA = ~FileMaskA, NotFileH = ~FileMaskH;
    Bitboard ownFiles = FillFiles(own);
    Bitboard isolated = own & ~(((ownFiles & NotFileH) << 1) | ((ownFiles & NotFileA) >> 1));
    // Squares strictly behind an enemy pawn, from Us's point of view, on its file and both neighbours.
    Bitboard behind = Us == White ? FillTowardsRank1(theirs << 8) : FillTowardsRank8(theirs >> 8);
    behind |= ((behind & NotFileH) << 1) | ((behind & NotFileA) >> 1);
    int pos = -IsolatedPawnPenalty * PopCount(isolated);
    for (Bitboard passed = own & ~behind; passed;) pos += PassedPawnBonus[Relative<Us>(PopLowest(passed))];
    return pos;
}

// What depends on the pawns alone, kept in a small cache. An entry is found by the two pawn sets
// themselves, stored complemented so that an entry never written (all zero) matches no position: a
// score never comes from another pawn structure.
struct alignas(32) PawnEntry {
    Bitboard notWhite, notBlack;
    i16 structure;     // isolated and passed pawns, White minus Black
    u8 shelter[2][2];  // [colour][0 king side, 1 queen side]: Shelter of g2 and b2, g7 and b7
    u8 files[2];       // [colour]: bit f set when a pawn of that colour stands on file f
    // [colour][square]: Shelter of the square in front of a king on d1, e1, d2, e2 (White) or the
    // mirrored squares (Black), worked out when a king first stands there; NoShelter until then.
    u8 front[2][4];
};
constexpr u8 NoShelter = 0xFF;

constexpr int PawnCacheBits = 13;
PawnEntry PawnCache[1 << PawnCacheBits];

// King placement and pawn shelter. The shelter only matters while the opponent keeps a queen and more
// than a queen's worth of pieces (theirPieces: their non-pawn material). The shelters of the two castled
// places come from the pawn entry, and so does that of the square in front of a king still on d1, e1,
// d2 or e2 once it has been needed; further up the board it is looked at here.
template <int Us>
inline int KingTerms(bool theyHaveQueen, int theirPieces, int castleRights, PawnEntry& pawns) {
    int k = LowestSquare(Board.PieceBB[Piece<Us>(6)]);
    int r = Relative<Us>(k);
    if (!theyHaveQueen || theirPieces <= QueenValue) return KingEndTable[r];

    const u8* shelters = pawns.shelter[Us];
    int pos = KingMiddleTable[r];
    int f = FileOf(k);
    if (f >= 5) return pos - shelters[0];
    if (f <= 2) return pos - shelters[1];

    // King on file d or e. The square in front of it only counts while the king is still on its own
    // five ranks.
    bool home = RowOf(r) >= 3;
    int front = 0;
    if (RowOf(r) >= 6) {
        u8& known = pawns.front[Us][(7 - RowOf(r)) * 2 + f - 3];
        if (known == NoShelter) known = u8(Shelter<Us>(Us == White ? k - 8 : k + 8));
        front = known;
    } else if (home) {
        front = Shelter<Us>(Us == White ? k - 8 : k + 8);
    }
    int rights = Us == White ? castleRights & 3 : (castleRights >> 2) & 3;  // 2 king side, 1 queen side
    if (rights) {
        // It may still castle: judged by the better of staying and the sides it can castle to.
        int best = front;
        if (rights & 2) best = std::min(best, int(shelters[0]));
        if (rights & 1) best = std::min(best, int(shelters[1]));
        return pos - (front + best) / 2;
    }
    return home ? pos - front - 20 : pos;
}

void FillPawnEntry(PawnEntry& e, Bitboard whitePawns, Bitboard blackPawns) {
    e.notWhite = ~whitePawns;
    e.notBlack = ~blackPawns;
    e.structure = i16(PawnTerms<White>(whitePawns, blackPawns) - PawnTerms<Black>(blackPawns, whitePawns));
    e.shelter[White][0] = u8(Shelter<White>(G2));
    e.shelter[White][1] = u8(Shelter<White>(B2));
    e.shelter[Black][0] = u8(Shelter<Black>(G7));
    e.shelter[Black][1] = u8(Shelter<Black>(B7));
    // Rank 8's byte of a file fill is the set of files.
    e.files[White] = u8(FillTowardsRank8(whitePawns));
    e.files[Black] = u8(FillTowardsRank8(blackPawns));
    std::memset(e.front, NoShelter, sizeof e.front);
}

// Mixes the two pawn sets by multiplication with odd constants and takes the top bits: one 64-bit
// product each in the 64-bit program; the 32-bit program multiplies each 32-bit half by its own constant.
inline u32 PawnCacheIndex(Bitboard whitePawns, Bitboard blackPawns) {
#ifdef VORNA_32BIT_ARITH
    u32 h = u32(whitePawns) * 0x9E3779B1u ^ u32(whitePawns >> 32) * 0x85EBCA77u ^
            u32(blackPawns) * 0xC2B2AE3Du ^ u32(blackPawns >> 32) * 0x27D4EB2Fu;
    return h >> (32 - PawnCacheBits);
#else
    return u32(((whitePawns * 0x9E3779B97F4A7C15ull) ^ blackPawns) * 0xC2B2AE3D27D4EB4Full >> (64 - PawnCacheBits));
#endif
}

template <bool Cached>
i16 EvaluateWith() {
    const Bitboard* bb = Board.PieceBB;
    Bitboard occ = Board.WhitePieces | Board.BlackPieces;
    Bitboard whitePawns = bb[WhitePawn], blackPawns = bb[BlackPawn];

    // The pawn entry is fetched first and looked at after the piece terms.
    PawnEntry fresh;
    PawnEntry* pawns = Cached ? &PawnCache[PawnCacheIndex(whitePawns, blackPawns)] : &fresh;
    if (Cached) __builtin_prefetch(pawns);

    // Material is counted without pawns first: the king terms look at the opponent's pieces alone.
    int matW, matB;
    int pos = PieceTerms<White>(occ, Board.WhitePieces, matW) - PieceTerms<Black>(occ, Board.BlackPieces, matB);
    if (!Cached || pawns->notWhite != ~whitePawns || pawns->notBlack != ~blackPawns)
        FillPawnEntry(*pawns, whitePawns, blackPawns);
    int rights = Board.CurrentState->CastleRights;
    pos += KingTerms<White>(bb[BlackQueen] != 0, matB, rights, *pawns) -
           KingTerms<Black>(bb[WhiteQueen] != 0, matW, rights, *pawns);
    pos += RookFileTerms<White>(pawns->files[White], pawns->files[Black]) -
           RookFileTerms<Black>(pawns->files[Black], pawns->files[White]);
    pos += pawns->structure;
    matW += PawnValue * PopCount(whitePawns);
    matB += PawnValue * PopCount(blackPawns);

    // A side that seems ahead without pawns and at most a minor piece up cannot convert the material:
    // it keeps only its positional advantage. An even score is left alone, so that a position and its
    // colour-flipped twin always agree.
    int t = pos + matW - matB;
    if (t > 0) {
        if (!whitePawns && matW <= matB + KnightValue) t = pos > 0 ? pos : 0;
    } else if (t < 0) {
        if (!blackPawns && matB <= matW + KnightValue) t = pos < 0 ? pos : 0;
    }
    return i16(Board.SideToMove == White ? t : -t);
}
}  // namespace

u16 WhiteShelter(Square s) { return Shelter<White>(s); }
u16 BlackShelter(Square s) { return Shelter<Black>(s); }

i16 Evaluate() { return EvaluateWith<true>(); }
i16 EvaluateUncached() { return EvaluateWith<false>(); }
