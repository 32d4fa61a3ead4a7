// Finds magic multipliers for the slider attack tables and prints them as C++ arrays.
//
// For every square the relevant-occupancy mask is enumerated completely; a candidate multiplier is
// accepted when no two subsets with different attack sets land on the same index, using exactly the
// index width the engine's tables are sized for (bishops 5..9 bits, rooks 10..12 bits). Candidates are
// sparse (the AND of three random words) and come from a fixed-seed xorshift generator, so every run
// prints the same numbers.
//
// The 32-bit program has magic pairs of its own (board/magics32.inc, printed with the argument 32): the
// two 32-bit halves of the masked occupancy are each multiplied by a 32-bit number and the products
// combined with XOR, which needs two 32-bit multiplications instead of a 64-bit one; the index is the top
// bits of that word. The same acceptance rule and index widths apply.
//
// Build and run:  g++ -O2 -std=c++20 tools/magicgen.cpp -o magicgen && ./magicgen > board/magics.inc
//                 ./magicgen 32 > board/magics32.inc
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using u64 = uint64_t;

static u64 rngState = 0x9E3779B97F4A7C15ull;
static u64 Next() {
    rngState ^= rngState << 13;
    rngState ^= rngState >> 7;
    rngState ^= rngState << 17;
    return rngState;
}
static u64 Sparse() { return Next() & Next() & Next(); }

// Walks the rays from s over the deltas (file, row); stops after the first square in occ.
static u64 Walk(int s, const int (*dirs)[2], u64 occ, bool mask) {
    u64 result = 0;
    for (int d = 0; d < 4; ++d) {
        int f = s & 7, r = s >> 3;
        for (;;) {
            f += dirs[d][0];
            r += dirs[d][1];
            if (f < 0 || f > 7 || r < 0 || r > 7) break;
            if (mask) {
                // the edge square at the end of a ray never matters as a blocker
                int nf = f + dirs[d][0], nr = r + dirs[d][1];
                if (nf < 0 || nf > 7 || nr < 0 || nr > 7) break;
            }
            u64 bit = 1ull << (r * 8 + f);
            result |= bit;
            if (!mask && (occ & bit)) break;
        }
    }
    return result;
}

static const int BishopDirs[4][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
static const int RookDirs[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};

// Every subset of the square's relevant-occupancy mask with its attack set.
struct Subsets {
    u64 mask;
    int bits;
    std::vector<u64> occupancy, attacks;
};

static Subsets Enumerate(int s, const int (*dirs)[2]) {
    Subsets all;
    all.mask = Walk(s, dirs, 0, true);
    all.bits = __builtin_popcountll(all.mask);
    u64 sub = 0;
    for (int i = 0; i < 1 << all.bits; ++i) {  // Carry-Rippler enumeration of all subsets of the mask
        all.occupancy.push_back(sub);
        all.attacks.push_back(Walk(s, dirs, sub, false));
        sub = (sub - all.mask) & all.mask;
    }
    return all;
}

// Draws candidates until one sends no two subsets with different attack sets to the same index; index
// maps (candidate, subset occupancy) to an index of all.bits bits, skip rejects a candidate at once.
template <class Candidate, class Index, class Skip>
static Candidate Search(const Subsets& all, Candidate (*draw)(), Index index, Skip skip) {
    int n = 1 << all.bits;
    std::vector<u64> used(n);
    std::vector<int> epoch(n, 0);
    for (int tries = 1;; ++tries) {
        Candidate candidate = draw();
        if (skip(candidate)) continue;
        bool ok = true;
        for (int i = 0; i < n && ok; ++i) {
            unsigned idx = index(candidate, all.occupancy[i]);
            if (epoch[idx] != tries) {
                epoch[idx] = tries;
                used[idx] = all.attacks[i];
            } else if (used[idx] != all.attacks[i]) {
                ok = false;
            }
        }
        if (ok) return candidate;
    }
}

static u64 FindMagic(int s, const int (*dirs)[2]) {
    const Subsets all = Enumerate(s, dirs);
    return Search(
        all, Sparse, [&](u64 magic, u64 occ) { return unsigned((occ * magic) >> (64 - all.bits)); },
        [&](u64 magic) { return __builtin_popcountll((all.mask * magic) & 0xFF00000000000000ull) < 6; });
}

using u32 = uint32_t;
struct Pair {
    u32 lo, hi;  // multipliers of the low and the high half
};
static Pair SparsePair() {
    u32 lo = u32(Sparse());
    return Pair{lo, u32(Sparse())};
}

// A pair for the 32-bit program.
static Pair FindMagic32(int s, const int (*dirs)[2]) {
    const Subsets all = Enumerate(s, dirs);
    return Search(
        all, SparsePair,
        [&](Pair p, u64 occ) { return (u32(occ) * p.lo ^ u32(occ >> 32) * p.hi) >> (32 - all.bits); },
        [](Pair) { return false; });
}

static void Print32(const char* name, const int (*dirs)[2]) {
    std::printf("const u32 %s[64][2] = {\n", name);
    for (int s = 0; s < 64; ++s) {
        Pair pair = FindMagic32(s, dirs);
        std::printf("%s{0x%08Xu, 0x%08Xu},%s", s % 4 == 0 ? "    " : " ", unsigned(pair.lo), unsigned(pair.hi),
                    s % 4 == 3 ? "\n" : "");
        std::fflush(stdout);
    }
    std::printf("};\n");
}

static void Print(const char* name, const int (*dirs)[2]) {
    std::printf("const u64 %s[64] = {\n", name);
    for (int s = 0; s < 64; ++s)
        std::printf("%s0x%016llXull,%s", s % 4 == 0 ? "    " : " ",
                    (unsigned long long)FindMagic(s, dirs), s % 4 == 3 ? "\n" : "");
    std::printf("};\n");
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "32") == 0) {
        std::printf("// Generated by tools/magicgen.cpp (argument 32); do not edit by hand.\n");
        Print32("BishopMagic32", BishopDirs);
        Print32("RookMagic32", RookDirs);
        return 0;
    }
    std::printf("// Generated by tools/magicgen.cpp; do not edit by hand.\n");
    Print("BishopMagic", BishopDirs);
    Print("RookMagic", RookDirs);
    return 0;
}
