#include "board/attacks.h"

#include "board/magics.inc"
#ifdef VORNA_32BIT_ARITH
#include "board/magics32.inc"
#endif

namespace {
// Relevant-occupancy masks: the rays without the square itself and without the edge square of each ray.
constexpr Bitboard RayMask(int s, bool diagonal) {
    const int dirs[2][4][2] = {{{0, 1}, {0, -1}, {1, 0}, {-1, 0}}, {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}}};
    Bitboard mask = 0;
    for (auto& d : dirs[diagonal]) {
        int f = FileOf(s) + d[0], r = RowOf(s) + d[1];
        while (f + d[0] >= 0 && f + d[0] <= 7 && r + d[1] >= 0 && r + d[1] <= 7 && f >= 0 && f <= 7 &&
               r >= 0 && r <= 7) {
            mask |= Bitboard(1) << (r * 8 + f);
            f += d[0];
            r += d[1];
        }
    }
    return mask;
}
template <bool Diagonal>
constexpr auto MakeMasks() {
    struct { Bitboard v[64]; } m{};
    for (int s = 0; s < 64; ++s) m.v[s] = RayMask(s, Diagonal);
    return m;
}
constexpr auto BishopMaskData = MakeMasks<true>();
constexpr auto RookMaskData = MakeMasks<false>();
}  // namespace

#define COPY64(a) a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], \
    a[14], a[15], a[16], a[17], a[18], a[19], a[20], a[21], a[22], a[23], a[24], a[25], a[26], a[27], a[28], \
    a[29], a[30], a[31], a[32], a[33], a[34], a[35], a[36], a[37], a[38], a[39], a[40], a[41], a[42], a[43], \
    a[44], a[45], a[46], a[47], a[48], a[49], a[50], a[51], a[52], a[53], a[54], a[55], a[56], a[57], a[58], \
    a[59], a[60], a[61], a[62], a[63]
const Bitboard BishopMask[64] = {COPY64(BishopMaskData.v)};
const Bitboard RookMask[64] = {COPY64(RookMaskData.v)};
#undef COPY64

const int BishopBits[64] = {
    6, 5, 5, 5, 5, 5, 5, 6,  //
    5, 5, 5, 5, 5, 5, 5, 5,  //
    5, 5, 7, 7, 7, 7, 5, 5,  //
    5, 5, 7, 9, 9, 7, 5, 5,  //
    5, 5, 7, 9, 9, 7, 5, 5,  //
    5, 5, 7, 7, 7, 7, 5, 5,  //
    5, 5, 5, 5, 5, 5, 5, 5,  //
    6, 5, 5, 5, 5, 5, 5, 6,
};
const int RookBits[64] = {
    12, 11, 11, 11, 11, 11, 11, 12,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    11, 10, 10, 10, 10, 10, 10, 11,  //
    12, 11, 11, 11, 11, 11, 11, 12,
};

u8 BishopShift[64];
u8 RookShift[64];
u16 BishopOffset[64];
u32 RookOffset[64];
Bitboard BishopAttacks[5248];
Bitboard RookAttacks[102400];
Bitboard KnightAttacks[64];
Bitboard KingAttacks[64];
Bitboard WhitePawnAttackers[64];
Bitboard BlackPawnAttackers[64];
Bitboard WhitePassedMask[64];
Bitboard BlackPassedMask[64];
Bitboard AdjacentFiles[64];
Bitboard BishopRays[64];
Bitboard RookRays[64];
Bitboard BetweenSquares[64][64];

namespace {
// Walks the rays from s one step at a time (a step must not wrap between files h and a) and stops
// after the first square in occ.
Bitboard SlowAttacks(int s, Bitboard occ, const int (*steps)[2]) {
    Bitboard result = 0;
    for (int d = 0; d < 4; ++d) {
        int f = FileOf(s), r = RowOf(s);
        for (;;) {
            f += steps[d][0];
            r += steps[d][1];
            if (f < 0 || f > 7 || r < 0 || r > 7) break;
            Bitboard bit = SquareBit[r * 8 + f];
            result |= bit;
            if (occ & bit) break;
        }
    }
    return result;
}
const int DiagonalSteps[4][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}};  // +9, +7, -7, -9
const int StraightSteps[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};    // +8, -8, +1, -1

// The k-th subset of mask: bit i of k selects the i-th lowest square of the mask.
Bitboard Subset(Bitboard mask, u32 k) {
    Bitboard subset = 0;
    for (int i = 0; mask; ++i) {
        int s = PopLowest(mask);
        if (k >> i & 1) subset |= SquareBit[s];
    }
    return subset;
}

Bitboard StepTargets(int s, const int (*offsets)[2], int count) {
    Bitboard result = 0;
    for (int i = 0; i < count; ++i) {
        int f = FileOf(s) + offsets[i][0], r = RowOf(s) + offsets[i][1];
        if (f >= 0 && f <= 7 && r >= 0 && r <= 7) result |= SquareBit[r * 8 + f];
    }
    return result;
}
}  // namespace

Bitboard SlowBishopAttacks(int s, Bitboard occ) { return SlowAttacks(s, occ, DiagonalSteps); }
Bitboard SlowRookAttacks(int s, Bitboard occ) { return SlowAttacks(s, occ, StraightSteps); }

void InitTables() {
    u32 bishopSum = 0, rookSum = 0;
    for (int s = 0; s < 64; ++s) {
        BishopOffset[s] = u16(bishopSum);
        RookOffset[s] = rookSum;
        bishopSum += 1u << BishopBits[s];
        rookSum += 1u << RookBits[s];
        BishopShift[s] = u8(64 - BishopBits[s]);
        RookShift[s] = u8(64 - RookBits[s]);
    }
    static const int KnightOffsets[8][2] = {{-2, -1}, {-1, -2}, {1, -2}, {2, -1}, {-2, 1}, {-1, 2}, {1, 2}, {2, 1}};
    static const int KingOffsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (int s = 0; s < 64; ++s) {
        int f = FileOf(s);
        WhitePassedMask[s] = BlackPassedMask[s] = 0;
        for (int g = f - 1; g <= f + 1; ++g) {
            if (g < 0 || g > 7) continue;
            for (int r = 0; r < 8; ++r) {
                if (r < RowOf(s)) WhitePassedMask[s] |= SquareBit[r * 8 + g];
                if (r > RowOf(s)) BlackPassedMask[s] |= SquareBit[r * 8 + g];
            }
        }
        AdjacentFiles[s] = (f > 0 ? FileMask[f - 1] : 0) | (f < 7 ? FileMask[f + 1] : 0);
        BlackPawnAttackers[s] = 0;
        if (s > 15) BlackPawnAttackers[s] = (f > 0 ? SquareBit[s - 9] : 0) | (f < 7 ? SquareBit[s - 7] : 0);
        WhitePawnAttackers[s] = 0;
        if (s < 48) WhitePawnAttackers[s] = (f > 0 ? SquareBit[s + 7] : 0) | (f < 7 ? SquareBit[s + 9] : 0);
        KnightAttacks[s] = StepTargets(s, KnightOffsets, 8);
        KingAttacks[s] = StepTargets(s, KingOffsets, 8);
        for (u32 k = 0; k < (1u << BishopBits[s]); ++k) {
            Bitboard subset = Subset(BishopMask[s], k);
            BishopAttacks[BishopOffset[s] + BishopIndex(s, subset)] = SlowBishopAttacks(s, subset);
        }
        for (u32 k = 0; k < (1u << RookBits[s]); ++k) {
            Bitboard subset = Subset(RookMask[s], k);
            RookAttacks[RookOffset[s] + RookIndex(s, subset)] = SlowRookAttacks(s, subset);
        }
        BishopRays[s] = SlowBishopAttacks(s, 0);
        RookRays[s] = SlowRookAttacks(s, 0);
    }
    // What the rays from both ends, each stopped by the other end, have in common.
    for (int s = 0; s < 64; ++s)
        for (int t = 0; t < 64; ++t) {
            Bitboard both = SquareBit[s] | SquareBit[t];
            BetweenSquares[s][t] = 0;
            if (BishopRays[s] & SquareBit[t])
                BetweenSquares[s][t] = SlowBishopAttacks(s, both) & SlowBishopAttacks(t, both);
            else if (RookRays[s] & SquareBit[t])
                BetweenSquares[s][t] = SlowRookAttacks(s, both) & SlowRookAttacks(t, both);
        }
}

bool AttackedByWhite(int s) { return AttackedBy<White>(s); }
bool AttackedByBlack(int s) { return AttackedBy<Black>(s); }
