// Board core: attack tables and queries, Zobrist keys, FEN setup and the colour flip.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "moves/makemove.h"
#include "moves/notation.h"

namespace {



Bitboard Squares(std::initializer_list<const char*> names) {
    Bitboard b = 0;
    for (const char* n : names) b |= Bit(Sq(n));
    return b;
}

// Independent reference geometry, written with file/row coordinates only.
Bitboard RayWalk(int s, Bitboard occ, const int (*dirs)[2]) {
    Bitboard result = 0;
    for (int d = 0; d < 4; ++d) {
        int f = s % 8 + dirs[d][0], r = s / 8 + dirs[d][1];
        while (f >= 0 && f < 8 && r >= 0 && r < 8) {
            result |= Bit(r * 8 + f);
            if (occ & Bit(r * 8 + f)) break;
            f += dirs[d][0];
            r += dirs[d][1];
        }
    }
    return result;
}
const int Diagonals[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
const int Lines[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
Bitboard RefBishop(int s, Bitboard occ) { return RayWalk(s, occ, Diagonals); }
Bitboard RefRook(int s, Bitboard occ) { return RayWalk(s, occ, Lines); }

Bitboard Steps(int s, const int (*offsets)[2]) {
    Bitboard result = 0;
    for (int i = 0; i < 8; ++i) {
        int f = s % 8 + offsets[i][0], r = s / 8 + offsets[i][1];
        if (f >= 0 && f < 8 && r >= 0 && r < 8) result |= Bit(r * 8 + f);
    }
    return result;
}
const int KnightJumps[8][2] = {{1, 2}, {2, 1}, {-1, 2}, {-2, 1}, {1, -2}, {2, -1}, {-1, -2}, {-2, -1}};
const int KingSteps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Everything a piece of the given code on s attacks in the current Board.
Bitboard RefAttacksOf(int code, int s) {
    Bitboard occ = Board.WhitePieces | Board.BlackPieces;
    int f = s % 8;
    switch (code) {
        case WhitePawn: return (f > 0 && s >= 9 ? Bit(s - 9) : 0) | (f < 7 && s >= 7 ? Bit(s - 7) : 0);
        case BlackPawn: return (f > 0 && s + 7 < 64 ? Bit(s + 7) : 0) | (f < 7 && s + 9 < 64 ? Bit(s + 9) : 0);
        case WhiteKnight: case BlackKnight: return Steps(s, KnightJumps);
        case WhiteKing: case BlackKing: return Steps(s, KingSteps);
        case WhiteBishop: case BlackBishop: return RefBishop(s, occ);
        case WhiteRook: case BlackRook: return RefRook(s, occ);
        default: return RefBishop(s, occ) | RefRook(s, occ);
    }
}

// Squares attacked by one colour, from every piece's own attack set.
Bitboard RefAttackedBy(int colour) {
    Bitboard result = 0;
    for (int s = 0; s < 64; ++s) {
        int c = Board.Mailbox[s];
        if (c && (c <= 6) == (colour == White)) result |= RefAttacksOf(c, s);
    }
    return result;
}

u64 NextRandom(u64& x) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
}

struct PerftLine {
    int line;
    std::string fen;
};

std::vector<PerftLine> ReadPerftFens() {
    std::vector<PerftLine> result;
    std::ifstream in(VORNA_TESTDATA "/perft.epd");
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
        size_t semi = text.find(';');
        if (semi == std::string::npos) continue;
        std::string fen = text.substr(0, semi);
        while (!fen.empty() && fen.back() == ' ') fen.pop_back();
        result.push_back({n, fen});
    }
    return result;
}

// The FEN of the colour-mirrored twin, made by rewriting the text.
std::string FlipFenText(const std::string& fen) {
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < fen.size()) {
        size_t next = fen.find(' ', pos);
        if (next == std::string::npos) next = fen.size();
        fields.push_back(fen.substr(pos, next - pos));
        pos = next + 1;
    }
    auto swapCase = [](char c) {
        if (c >= 'a' && c <= 'z') return char(c - 32);
        if (c >= 'A' && c <= 'Z') return char(c + 32);
        return c;
    };
    std::vector<std::string> ranks;
    pos = 0;
    for (;;) {
        size_t next = fields[0].find('/', pos);
        ranks.push_back(fields[0].substr(pos, next == std::string::npos ? std::string::npos : next - pos));
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    std::string placement;
    for (int i = int(ranks.size()) - 1; i >= 0; --i) {
        for (char c : ranks[i]) placement += swapCase(c);
        if (i) placement += '/';
    }
    std::string side = fields[1] == "w" ? "b" : "w";
    std::string castling;
    for (char c : fields[2]) castling += swapCase(c);
    std::string ep = fields[3];
    if (ep != "-") ep[1] = char('9' - (ep[1] - '0'));
    return placement + " " + side + " " + castling + " " + ep;
}

bool SameState(const PositionState& a, const PositionState& b) {
    return a.CastleRights == b.CastleRights && a.EpSquare == b.EpSquare && a.InCheck == b.InCheck &&
           a.HashKey == b.HashKey && a.Reversible == b.Reversible;
}

// Whole-board equality: placement, side, stack pointer and every state record.
::testing::AssertionResult SameBoardData(const BoardData& a, const BoardData& b) {
    if (std::memcmp(a.Mailbox, b.Mailbox, sizeof a.Mailbox)) return ::testing::AssertionFailure() << "Mailbox differs";
    if (std::memcmp(a.PieceBB, b.PieceBB, sizeof a.PieceBB)) return ::testing::AssertionFailure() << "PieceBB differs";
    if (a.WhitePieces != b.WhitePieces || a.BlackPieces != b.BlackPieces)
        return ::testing::AssertionFailure() << "colour sets differ";
    if (a.SideToMove != b.SideToMove) return ::testing::AssertionFailure() << "SideToMove differs";
    // Copies keep the pointer into the global Board's stack, so the pointers compare directly.
    if (a.CurrentState != b.CurrentState)
        return ::testing::AssertionFailure() << "CurrentState differs";
    for (int i = 0; i < StateStackSize; ++i)
        if (!SameState(a.StateStack[i], b.StateStack[i]))
            return ::testing::AssertionFailure() << "StateStack[" << i << "] differs";
    return ::testing::AssertionSuccess();
}

// Mailbox, piece bitboards and colour sets describe one placement.
::testing::AssertionResult PlacementConsistent() {
    Bitboard white = 0, black = 0;
    for (int c = 1; c <= 12; ++c) {
        for (int s = 0; s < 64; ++s)
            if (((Board.PieceBB[c] >> s) & 1) != (Board.Mailbox[s] == c))
                return ::testing::AssertionFailure() << "PieceBB[" << c << "] disagrees with Mailbox at " << s;
        (c <= 6 ? white : black) |= Board.PieceBB[c];
    }
    if (Board.PieceBB[0]) return ::testing::AssertionFailure() << "PieceBB[0] not empty";
    if (white != Board.WhitePieces || black != Board.BlackPieces)
        return ::testing::AssertionFailure() << "colour sets disagree with PieceBB";
    return ::testing::AssertionSuccess();
}

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { InitOnce(); }

    static void Set(const char* fen) { ASSERT_TRUE(SetBoard(fen)) << fen << ": " << SetBoardError; }

    // A copy of the whole Board after setting up fen.
    static std::unique_ptr<BoardData> Parsed(const char* fen) {
        EXPECT_TRUE(SetBoard(fen)) << fen << ": " << SetBoardError;
        auto copy = std::make_unique<BoardData>();
        std::memcpy(static_cast<void*>(copy.get()), &Board, sizeof Board);
        return copy;
    }

    static void Play(const char* text) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        ASSERT_NE(m, NullMove) << text;
        ASSERT_TRUE(MakeMove(m)) << text;
    }
};

// ---------------------------------------------------------------------------------------------------
// Attack tables

TEST_F(BoardTest, SliderLookupsMatchRayWalkForEverySubsetOfTheMask) {
    u64 seed = 0x9E3779B97F4A7C15ull;
    for (int s = 0; s < 64; ++s) {
        ASSERT_EQ(PopCount(BishopMask[s]), BishopBits[s]) << s;
        ASSERT_EQ(PopCount(RookMask[s]), RookBits[s]) << s;
        // Every subset of the mask, with noise outside the mask that must not change the answer.
        const Bitboard bm = BishopMask[s];
        Bitboard sub = 0;
        do {
            Bitboard noise = NextRandom(seed) & ~bm;
            Bitboard want = RefBishop(s, sub);
            ASSERT_EQ(BishopAttacksFrom(s, sub), want) << "square " << s << " subset " << std::hex << sub;
            ASSERT_EQ(BishopAttacksFrom(s, sub | noise), want) << "square " << s << " occ " << std::hex << (sub | noise);
            ASSERT_EQ(SlowBishopAttacks(s, sub), want) << "square " << s << " subset " << std::hex << sub;
            sub = (sub - bm) & bm;
        } while (sub);
        const Bitboard rm = RookMask[s];
        sub = 0;
        do {
            Bitboard noise = NextRandom(seed) & ~rm;
            Bitboard want = RefRook(s, sub);
            ASSERT_EQ(RookAttacksFrom(s, sub), want) << "square " << s << " subset " << std::hex << sub;
            ASSERT_EQ(RookAttacksFrom(s, sub | noise), want) << "square " << s << " occ " << std::hex << (sub | noise);
            ASSERT_EQ(SlowRookAttacks(s, sub), want) << "square " << s << " subset " << std::hex << sub;
            sub = (sub - rm) & rm;
        } while (sub);
    }
}

TEST_F(BoardTest, SliderLookupsMatchRayWalkForRandomOccupancies) {
    u64 seed = 0x0123456789ABCDEFull;
    for (int s = 0; s < 64; ++s) {
        for (int i = 0; i < 3000; ++i) {
            // Sparse, medium and dense boards.
            Bitboard occ = NextRandom(seed);
            if (i % 3 == 0) occ &= NextRandom(seed) & NextRandom(seed);
            if (i % 3 == 1) occ &= NextRandom(seed);
            ASSERT_EQ(BishopAttacksFrom(s, occ), RefBishop(s, occ)) << s << " " << std::hex << occ;
            ASSERT_EQ(RookAttacksFrom(s, occ), RefRook(s, occ)) << s << " " << std::hex << occ;
        }
    }
}

TEST_F(BoardTest, SliderMasksAndSliceLayout) {
    EXPECT_EQ(BishopMask[0], 0x0040201008040200ull);
    EXPECT_EQ(RookMask[0], 0x000101010101017Eull);
    EXPECT_EQ(BishopMask[Sq("d5")], 0x0040221400142200ull);
    EXPECT_EQ(RookMask[Sq("d5")], 0x0008080876080800ull);
    // Slices are laid end to end and fill the tables exactly.
    for (int s = 1; s < 64; ++s) {
        EXPECT_EQ(BishopOffset[s], BishopOffset[s - 1] + (1u << BishopBits[s - 1])) << s;
        EXPECT_EQ(RookOffset[s], RookOffset[s - 1] + (1u << RookBits[s - 1])) << s;
    }
    EXPECT_EQ(BishopOffset[0], 0);
    EXPECT_EQ(RookOffset[0], 0u);
    EXPECT_EQ(BishopOffset[63] + (1u << BishopBits[63]), 5248u);
    EXPECT_EQ(RookOffset[63] + (1u << RookBits[63]), 102400u);
}

TEST_F(BoardTest, SliderAttackExamples) {
    Bitboard fileA = 0x0101010101010101ull, rank1 = 0xFF00000000000000ull;
    EXPECT_EQ(RookAttacksFrom(Sq("a1"), 0), (fileA | rank1) & ~Bit(Sq("a1")));
    EXPECT_EQ(RookAttacksFrom(Sq("a1"), Bit(Sq("a4"))),
              Squares({"a2", "a3", "a4", "b1", "c1", "d1", "e1", "f1", "g1", "h1"}));
    // Blockers of either colour are included, nothing behind them; squares off the rays do not matter.
    Bitboard occ = Squares({"b6", "f6", "b2", "g1", "c6", "d5"});
    EXPECT_EQ(BishopAttacksFrom(Sq("d4"), occ), Squares({"c5", "b6", "e5", "f6", "c3", "b2", "e3", "f2", "g1"}));
    EXPECT_EQ(RookAttacksFrom(Sq("d4"), occ), Squares({"d5", "d3", "d2", "d1", "a4", "b4", "c4", "e4", "f4", "g4", "h4"}));
    EXPECT_EQ(BishopAttacksFrom(Sq("a8"), 0), BishopAttacksFrom(Sq("h1"), 0) ^ Bit(Sq("a8")) ^ Bit(Sq("h1")));
    EXPECT_EQ(PopCount(BishopAttacksFrom(Sq("a8"), 0)), 7);
    EXPECT_EQ(PopCount(BishopAttacksFrom(Sq("h1"), 0)), 7);
    Bitboard mid = Bit(Sq("d5"));
    EXPECT_EQ(BishopAttacksFrom(Sq("a8"), mid), Squares({"b7", "c6", "d5"}));
    EXPECT_EQ(BishopAttacksFrom(Sq("h1"), mid), Squares({"g2", "f3", "e4", "d5"}));
}

TEST_F(BoardTest, KnightAndKingTables) {
    EXPECT_EQ(KnightAttacks[Sq("a8")], Squares({"b6", "c7"}));
    EXPECT_EQ(KingAttacks[Sq("a8")], Squares({"b8", "a7", "b7"}));
    EXPECT_EQ(PopCount(KnightAttacks[Sq("e4")]), 8);
    EXPECT_EQ(KnightAttacks[Sq("h1")], Squares({"f2", "g3"}));
    for (int s = 0; s < 64; ++s) {
        EXPECT_EQ(KnightAttacks[s], Steps(s, KnightJumps)) << s;
        EXPECT_EQ(KingAttacks[s], Steps(s, KingSteps)) << s;
    }
}

TEST_F(BoardTest, PawnAttackerTables) {
    EXPECT_EQ(WhitePawnAttackers[Sq("e6")], Squares({"d5", "f5"}));
    EXPECT_EQ(BlackPawnAttackers[Sq("e3")], Squares({"d4", "f4"}));
    EXPECT_EQ(WhitePawnAttackers[Sq("a3")], Squares({"b2"}));
    EXPECT_EQ(BlackPawnAttackers[Sq("h6")], Squares({"g7"}));
    for (int s = 0; s < 64; ++s) {
        int row = s / 8;
        // Pawns never stand on their own back rank, so no attacker lies there.
        Bitboard white = 0, black = 0;
        for (int p = 8; p < 56; ++p) {
            int pf = p % 8;
            if ((pf > 0 && p - 9 == s) || (pf < 7 && p - 7 == s)) white |= Bit(p);
            if ((pf > 0 && p + 7 == s) || (pf < 7 && p + 9 == s)) black |= Bit(p);
        }
        EXPECT_EQ(WhitePawnAttackers[s], white) << s;
        EXPECT_EQ(BlackPawnAttackers[s], black) << s;
        if (row >= 6) {
            EXPECT_EQ(WhitePawnAttackers[s], 0u) << s;
        }
        if (row <= 1) {
            EXPECT_EQ(BlackPawnAttackers[s], 0u) << s;
        }
    }
}

TEST_F(BoardTest, PassedPawnAndAdjacentFileMasks) {
    Bitboard e2 = 0;
    for (int r = 0; r < 6; ++r) e2 |= Bitboard(0x38) << (r * 8);  // d..f on ranks 8..3
    EXPECT_EQ(WhitePassedMask[Sq("e2")], e2);
    EXPECT_EQ(WhitePassedMask[Sq("a5")], Squares({"a6", "a7", "a8", "b6", "b7", "b8"}));
    EXPECT_EQ(BlackPassedMask[Sq("h4")], Squares({"g3", "g2", "g1", "h3", "h2", "h1"}));
    for (int s = 0; s < 64; ++s) {
        Bitboard white = 0, black = 0;
        for (int t = 0; t < 64; ++t) {
            int df = t % 8 - s % 8;
            if (df < -1 || df > 1) continue;
            if (t / 8 < s / 8) white |= Bit(t);
            if (t / 8 > s / 8) black |= Bit(t);
        }
        EXPECT_EQ(WhitePassedMask[s], white) << s;
        EXPECT_EQ(BlackPassedMask[s], black) << s;
        if (s < 8) {
            EXPECT_EQ(WhitePassedMask[s], 0u) << s;
        }
        if (s >= 56) {
            EXPECT_EQ(BlackPassedMask[s], 0u) << s;
        }
        int f = s % 8;
        Bitboard adj = (f > 0 ? FileMask[f - 1] : 0) | (f < 7 ? FileMask[f + 1] : 0);
        EXPECT_EQ(AdjacentFiles[s], adj) << s;
    }
    EXPECT_EQ(AdjacentFiles[Sq("a3")], 0x0202020202020202ull);
    EXPECT_EQ(AdjacentFiles[Sq("h7")], 0x4040404040404040ull);
}

TEST_F(BoardTest, AttackQueriesInTheStartPosition) {
    Set(StartFen);
    EXPECT_FALSE(AttackedByBlack(Sq("e1")));
    EXPECT_FALSE(AttackedByWhite(Sq("e8")));
    EXPECT_TRUE(AttackedByWhite(Sq("f3")));
    EXPECT_FALSE(AttackedByWhite(Sq("e4")));
    EXPECT_TRUE(AttackedByBlack(Sq("f6")));
    EXPECT_FALSE(AttackedByBlack(Sq("e5")));
    // Own pieces defended by others count as attacked; the rook in the corner is not defended...
    EXPECT_TRUE(AttackedByWhite(Sq("e2")));
    EXPECT_FALSE(AttackedByWhite(Sq("a1")));
    EXPECT_TRUE(AttackedByBlack(Sq("d8")));
    EXPECT_FALSE(AttackedByBlack(Sq("h8")));
}

TEST_F(BoardTest, AttackQueriesAgreeWithEveryPiecesAttackSet) {
    std::vector<PerftLine> lines = ReadPerftFens();
    ASSERT_EQ(lines.size(), 60u);
    std::vector<std::string> fens = {StartFen, "4k3/8/8/8/8/8/8/4K3 w - -",
                                     "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                                     "8/8/8/8/r3K3/8/8/7k w - -"};
    for (const PerftLine& l : lines) fens.push_back(l.fen);
    for (const std::string& fen : fens) {
        SCOPED_TRACE(fen);
        Set(fen.c_str());
        for (int flip = 0; flip < 2; ++flip) {
            Bitboard white = RefAttackedBy(White), black = RefAttackedBy(Black);
            for (int s = 0; s < 64; ++s) {
                ASSERT_EQ(AttackedByWhite(s), ((white >> s) & 1) != 0) << "square " << s << " flip " << flip;
                ASSERT_EQ(AttackedByBlack(s), ((black >> s) & 1) != 0) << "square " << s << " flip " << flip;
            }
            FlipColours();
            ComputeHashKey();
        }
    }
    // The board is taken as it stands: the attacked king still blocks the ray behind it.
    Set("8/8/8/8/r3K3/8/8/7k w - -");
    EXPECT_TRUE(AttackedByBlack(Sq("e4")));
    EXPECT_FALSE(AttackedByBlack(Sq("f4")));
}

// ---------------------------------------------------------------------------------------------------
// Zobrist keys

TEST_F(BoardTest, ZobristKeysComeFromTheFixedGenerator) {
    u32 x = 1;
    auto draw = [&x]() {
        u64 key = 0;
        for (int i = 0; i < 64; ++i) {
            x = x * 214013u + 2531011u;
            key = (key << 1) | ((x >> 16) & 1);
        }
        return key;
    };
    for (int c = 0; c < 13; ++c)
        for (int s = 0; s < 64; ++s) ASSERT_EQ(PieceSquareKeys[c][s], draw()) << c << " " << s;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(EpKeys[16 + i], draw()) << i;
        EXPECT_EQ(EpKeys[40 + i], draw()) << i;
    }
    for (int r = 0; r < 16; ++r) EXPECT_EQ(CastleKeys[r], draw()) << r;
    EXPECT_EQ(SideKey, draw());
    for (int s = 0; s < 64; ++s) {
        bool hasKey = (s >= 16 && s < 24) || (s >= 40 && s < 48);
        EXPECT_EQ(EpKeys[s] != 0, hasKey) << s;
    }
    // Running it again gives the same tables.
    u64 before = SideKey, firstPiece = PieceSquareKeys[1][0];
    InitZobrist();
    EXPECT_EQ(SideKey, before);
    EXPECT_EQ(PieceSquareKeys[1][0], firstPiece);
}

TEST_F(BoardTest, StartPositionState) {
    Set(StartFen);
    const PositionState* st = Board.CurrentState;
    EXPECT_EQ(st, &Board.StateStack[0]);
    EXPECT_EQ(st->CastleRights, 15);
    EXPECT_EQ(st->EpSquare, 0);
    EXPECT_EQ(st->InCheck, 0);
    EXPECT_EQ(Board.SideToMove, 1);
    EXPECT_EQ(PopCount(Board.WhitePieces), 16);
    EXPECT_EQ(PopCount(Board.BlackPieces), 16);
    EXPECT_EQ(Board.Mailbox[Sq("e2")], WhitePawn);
    EXPECT_EQ(Board.Mailbox[Sq("e7")], BlackPawn);
    EXPECT_TRUE(Board.PieceBB[WhitePawn] & Bit(52));
    EXPECT_TRUE(Board.PieceBB[BlackPawn] & Bit(12));
    const char* back = "RNBQKBNR";
    for (int f = 0; f < 8; ++f) {
        EXPECT_EQ(PieceLetters[Board.Mailbox[56 + f]], back[f]) << f;
        EXPECT_EQ(PieceLetters[Board.Mailbox[f]], back[f] + 32) << f;
    }
    EXPECT_TRUE(PlacementConsistent());

    u64 pieces = 0;
    for (int s = 0; s < 64; ++s)
        if (Board.Mailbox[s]) pieces ^= PieceSquareKeys[Board.Mailbox[s]][s];
    EXPECT_NE(SideKey, CastleKeys[15]);
    EXPECT_EQ(st->HashKey, pieces ^ CastleKeys[15] ^ SideKey);
    EXPECT_EQ(st->HashKey, FullHashKey());
}

TEST_F(BoardTest, KeyCompositionOfSideCastlingAndEnPassant) {
    // The castling key is there also for no rights; the side key marks White to move.
    Set("4k3/8/8/8/8/8/8/4K3 b - -");
    u64 kings = PieceSquareKeys[WhiteKing][Sq("e1")] ^ PieceSquareKeys[BlackKing][Sq("e8")];
    EXPECT_EQ(Board.CurrentState->HashKey, kings ^ CastleKeys[0]);
    Set("4k3/8/8/8/8/8/8/4K3 w - -");
    EXPECT_EQ(Board.CurrentState->HashKey, kings ^ CastleKeys[0] ^ SideKey);

    // Positions that differ only in the side to move differ by exactly the side key.
    Set("r3k2r/pp3ppp/2n5/3p4/3P4/2N5/PP3PPP/R3K2R w KQkq -");
    u64 white = Board.CurrentState->HashKey;
    Set("r3k2r/pp3ppp/2n5/3p4/3P4/2N5/PP3PPP/R3K2R b KQkq -");
    EXPECT_EQ(white ^ Board.CurrentState->HashKey, SideKey);

    // An en-passant square contributes its key.
    Set("4k3/8/8/8/3pP3/8/8/4K3 b - e3");
    EXPECT_EQ(Board.CurrentState->EpSquare, 44);
    u64 withEp = Board.CurrentState->HashKey;
    Set("4k3/8/8/8/3pP3/8/8/4K3 b - -");
    EXPECT_EQ(withEp ^ Board.CurrentState->HashKey, EpKeys[44]);

    // A square off ranks 3 and 6 in the record changes nothing in the key.
    Set("4k3/8/8/8/3pP3/8/8/4K3 b - -");
    u64 plain = FullHashKey();
    for (int s : {1, 8, 15, 24, 31, 32, 39, 48, 63}) {
        Board.CurrentState->EpSquare = u8(s);
        EXPECT_EQ(FullHashKey(), plain) << s;
    }
    Board.CurrentState->EpSquare = 0;
}

// ---------------------------------------------------------------------------------------------------
// FEN setup

TEST_F(BoardTest, FenSpellingsThatDescribeTheSamePosition) {
    auto base = Parsed(StartFen);
    const char* same[] = {
        "rnbqkbnrpppppppp8888PPPPPPPPRNBQKBNR w KQkq -",
        "rnbqkbnr/pppppppp/......../......../......../......../PPPPPPPP/RNBQKBNR w KQkq -",
        "rnbqkbnr/pppppppp/44/8/35/1111.1.1/PPPPPPPP/RNBQKBNR w KQkq -",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR W KQkq -",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 12 40 ",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w qkQK -",
        "   rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
        "\trnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    };
    for (const char* fen : same) {
        auto b = Parsed(fen);
        EXPECT_TRUE(SameBoardData(*b, *base)) << fen;
    }
}

TEST_F(BoardTest, SideLetterAndCastlingField) {
    for (const char* side : {"b", "B", "x"}) {
        std::string fen = std::string("4k3/8/8/8/8/8/8/4K3 ") + side + " - -";
        Set(fen.c_str());
        EXPECT_EQ(Board.SideToMove, 0) << fen;
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey()) << fen;
    }
    Set("4k3/8/8/8/8/8/8/4K2R w K - 5 30");
    EXPECT_EQ(Board.CurrentState->CastleRights, 2);
    Set("r3k2r/8/8/8/8/8/8/R3K2R w - -");
    EXPECT_EQ(Board.CurrentState->CastleRights, 0);
    Set("r3k2r/8/8/8/8/8/8/R3K2R w kQqK -");
    EXPECT_EQ(Board.CurrentState->CastleRights, 15);
    Set("r3k2r/8/8/8/8/8/8/R3K2R b Qk -");
    EXPECT_EQ(Board.CurrentState->CastleRights, 1 | 8);
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
}

TEST_F(BoardTest, TextThatEndsEarlyGetsDefaults) {
    struct Case {
        const char* fen;
        int side, rights;
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R", 1, 0},
        {"r3k2r/8/8/8/8/8/8/R3K2R ", 1, 0},
        {"r3k2r/8/8/8/8/8/8/R3K2R b", 0, 0},
        {"r3k2r/8/8/8/8/8/8/R3K2R w ", 1, 0},
        {"r3k2r/8/8/8/8/8/8/R3K2R w K", 1, 2},
        {"r3k2r/8/8/8/8/8/8/R3K2R b Kq ", 0, 6},
    };
    for (const Case& c : cases) {
        Set(c.fen);
        EXPECT_EQ(Board.SideToMove, c.side) << c.fen;
        EXPECT_EQ(Board.CurrentState->CastleRights, c.rights) << c.fen;
        EXPECT_EQ(Board.CurrentState->EpSquare, 0) << c.fen;
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey()) << c.fen;
        EXPECT_EQ(PopCount(Board.WhitePieces | Board.BlackPieces), 6) << c.fen;
    }
    // A placement that stops short leaves the rest of the board empty.
    Set("4k3/8/8/8/8/8/8/4K");
    EXPECT_EQ(Board.Mailbox[Sq("e1")], WhiteKing);
    EXPECT_EQ(PopCount(Board.WhitePieces | Board.BlackPieces), 2);
    EXPECT_TRUE(PlacementConsistent());
}

TEST_F(BoardTest, InCheckFlagOfTheSideToMove) {
    Set("4k3/8/8/8/8/8/8/r3K3 w - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
    Set("4k3/8/8/8/8/5n2/8/4K3 w - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
    Set("4k3/8/8/8/8/8/3p4/4K3 w - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
    Set("4k3/8/8/1B6/8/8/8/4K3 b - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
    Set("4k3/8/8/8/8/8/8/4K3 w - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 0);
    Set("4k3/8/8/1b6/8/8/8/4K3 b - -");  // the bishop is Black's own
    EXPECT_EQ(Board.CurrentState->InCheck, 0);
}

TEST_F(BoardTest, RefusedPositionsLeaveTheBoardUntouched) {
    const char* refused[] = {
        "",
        "   ",
        "8/8/8/8/8/8/8/4K3 w - -",                  // no Black king
        "4k3/8/8/8/8/8/8/8 w - -",                  // no White king
        "4k3/8/8/8/8/8/8/3KK3 w - -",               // two White kings
        "3kk3/8/8/8/8/8/8/4K3 b - -",               // two Black kings
        "k3k3/8/8/8/8/8/8/K3K3 w - -",              // two of each
        "4k2P/8/8/8/8/8/8/4K3 b - -",               // White pawn on rank 8
        "4k3/8/8/8/8/8/8/P3K3 w - -",               // White pawn on rank 1
        "p3k3/8/8/8/8/8/8/4K3 w - -",               // Black pawn on rank 8
        "4k3/8/8/8/8/8/8/4K2p b - -",               // Black pawn on rank 1
        "4k3/8/8/8/NPPPPPPP/PPPPPPPP/8/4K3 w - -",  // 17 White pieces
        "4k3/nppppppp/pppppppp/8/8/8/8/4K3 b - -",  // 17 Black pieces
        "4k3/8/8/8/8/8/8/4R1K1 w - -",              // Black, not to move, in check
        "4k3/8/8/8/8/3n4/8/4K3 b - -",              // White, not to move, in check
    };
    auto save = std::make_unique<BoardData>();
    for (const char* fen : refused) {
        // A game in progress: records above the first one and a moved CurrentState.
        Set("r3k2r/pppq1ppp/2n5/3p4/3P4/2N5/PPPQ1PPP/R3K2R w KQkq -");
        Play("e1g1");
        Play("a7a5");
        std::memcpy(static_cast<void*>(save.get()), &Board, sizeof Board);
        ::testing::internal::CaptureStdout();
        EXPECT_FALSE(SetBoard(fen)) << fen;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << fen;
        EXPECT_STRNE(SetBoardError, "") << fen;
        EXPECT_TRUE(SameBoardData(Board, *save)) << fen;
    }
    EXPECT_TRUE(SetBoard("4k3/8/8/8/8/8/8/4K3"));
    EXPECT_STREQ(SetBoardError, "");
    // Sixteen pieces a side is the limit, not beyond it.
    Set("4k3/8/8/8/1PPPPPPP/PPPPPPPP/8/4K3 w - -");
    Set("4k3/1ppppppp/pppppppp/8/8/8/8/4K3 b - -");
    // Only the side not to move may not be in check.
    Set("4k3/8/8/8/8/8/8/4R1K1 b - -");
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
}

TEST_F(BoardTest, EnPassantFieldIsKeptOnlyWhereADoublePushJustHappened) {
    struct Case {
        const char* fen;
        int ep;
    } cases[] = {
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e3", 44},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1", 44},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", 19},
        {"4k3/8/8/8/4P3/8/8/4K3 b - e3", 44},     // kept though no pawn can take
        {"4k3/8/8/8/3pP3/8/8/4K3 w - e3", 0},     // rank 3 with White to move
        {"4k3/8/8/3pP3/8/8/8/4K3 b - d6", 0},     // rank 6 with Black to move
        {"4k3/8/8/8/3p4/8/8/4K3 b - e3", 0},      // no pawn in front of it
        {"4k3/8/8/8/3pN3/8/8/4K3 b - e3", 0},     // a knight in front, not a pawn
        {"4k3/8/8/8/3pp3/8/8/4K3 b - e3", 0},     // a pawn of the wrong colour
        {"4k3/8/8/8/3pP3/4N3/8/4K3 b - e3", 0},   // the square is occupied
        {"4k3/8/8/8/3pP3/8/4P3/4K3 b - e3", 0},   // the start square is occupied
        {"4k3/3p4/8/3pP3/8/8/8/4K3 w - d6", 0},   // the same for White: start square occupied
        {"4k3/8/3n4/3pP3/8/8/8/4K3 w - d6", 0},   // target square occupied
        {"4k3/8/8/3PP3/8/8/8/4K3 w - d6", 0},     // pawn of the wrong colour
        {"4k3/8/8/4P3/8/8/8/4K3 w - d6", 0},      // no pawn at all
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d3", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e6", 0},     // wrong rank
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e4", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - i3", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - E3", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e9", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e0", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - e", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - ~", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - -", 0},
        {"4k3/8/8/8/3pP3/8/8/4K3 b - ", 0},
    };
    for (const Case& c : cases) {
        Set(c.fen);
        EXPECT_EQ(Board.CurrentState->EpSquare, c.ep) << c.fen;
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey()) << c.fen;
    }
}

TEST_F(BoardTest, CastlingRightsNeedKingAndRookAtHome) {
    struct Case {
        const char* fen;
        int rights;
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", 15},
        {"r3k2r/8/8/8/8/8/8/R3K3 w KQkq -", 13},
        {"r3k2r/8/8/8/8/8/8/4K2R w KQkq -", 14},
        {"r3k2r/8/8/8/8/8/8/R4K1R w KQkq -", 12},
        {"r3k2r/8/8/8/8/8/8/R3K2N w KQkq -", 13},
        {"r3k3/8/8/8/8/8/8/R3K2R w KQkq -", 7},
        {"4k2r/8/8/8/8/8/8/R3K2R w KQkq -", 11},
        {"r4k1r/8/8/8/8/8/8/R3K2R w KQkq -", 3},
        {"r3k2b/8/8/8/8/8/8/R3K2R w KQkq -", 7},
        {"1r2k1r1/8/8/8/8/8/8/1R2K1R1 w KQkq -", 0},
    };
    for (const Case& c : cases) {
        Set(c.fen);
        EXPECT_EQ(Board.CurrentState->CastleRights, c.rights) << c.fen;
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey()) << c.fen;
    }
}

// ---------------------------------------------------------------------------------------------------
// Colour flip

TEST_F(BoardTest, FlippedStartPositionIsTheStartPositionWithBlackToMove) {
    auto start = Parsed(StartFen);
    FlipColours();
    ComputeHashKey();
    EXPECT_EQ(std::memcmp(Board.Mailbox, start->Mailbox, 64), 0);
    EXPECT_EQ(std::memcmp(Board.PieceBB, start->PieceBB, sizeof Board.PieceBB), 0);
    EXPECT_EQ(Board.SideToMove, 0);
    EXPECT_EQ(Board.CurrentState->CastleRights, 15);
    EXPECT_EQ(Board.CurrentState->HashKey, start->StateStack[0].HashKey ^ SideKey);
}

TEST_F(BoardTest, FlipMatchesTheMirroredFenAndTwiceIsIdentity) {
    std::vector<PerftLine> lines = ReadPerftFens();
    ASSERT_EQ(lines.size(), 60u);
    lines.push_back({0, StartFen});
    lines.push_back({0, "r3k2r/8/8/8/8/8/8/R3K2R w Kq -"});
    lines.push_back({0, "4k3/8/8/3pP3/8/8/8/4K3 w - d6"});
    for (const PerftLine& l : lines) {
        SCOPED_TRACE(l.fen);
        std::string mirrored = FlipFenText(l.fen);
        // Accepted positions never trip the key consistency check.
        ::testing::internal::CaptureStdout();
        auto twin = Parsed(mirrored.c_str());
        auto original = Parsed(l.fen.c_str());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

        FlipColours();
        ComputeHashKey();
        EXPECT_TRUE(PlacementConsistent());
        EXPECT_TRUE(SameBoardData(Board, *twin)) << "twin " << mirrored;

        FlipColours();
        ComputeHashKey();
        EXPECT_TRUE(SameBoardData(Board, *original));
    }
}

// ---------------------------------------------------------------------------------------------------
// State stack

TEST_F(BoardTest, TrimGameStackKeepsTheLatestRecords) {
    Set(StartFen);
    const char* cycle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int i = 0; i < GameStackLimit - 1; ++i) Play(cycle[i % 4]);
    EXPECT_EQ(TrimGameStack(), 0);
    EXPECT_EQ(StateIndex(), GameStackLimit - 1);

    for (int i = GameStackLimit - 1; i < 600; ++i) Play(cycle[i % 4]);
    ASSERT_EQ(StateIndex(), 600);
    std::vector<PositionState> top(Board.StateStack + 600 + 1 - GameStackKeep, Board.StateStack + 601);
    auto placement = std::make_unique<BoardData>();
    std::memcpy(static_cast<void*>(placement.get()), &Board, sizeof Board);

    EXPECT_EQ(TrimGameStack(), 600 + 1 - GameStackKeep);
    ASSERT_EQ(StateIndex(), GameStackKeep - 1);
    for (int i = 0; i < GameStackKeep; ++i) EXPECT_TRUE(SameState(Board.StateStack[i], top[i])) << i;
    EXPECT_EQ(std::memcmp(Board.Mailbox, placement->Mailbox, 64), 0);
    EXPECT_EQ(Board.SideToMove, placement->SideToMove);

    // Play goes on normally above the trimmed records, and moves can still be taken back.
    Play("g1f3");
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    Board.CurrentState->InCheck = SideToMoveInCheck();
    Move m = TextToMove("g8f6");
    ASSERT_NE(m, NullMove);
    ASSERT_TRUE(MakeMove(m));
    UnmakeMove(m);
    EXPECT_EQ(StateIndex(), GameStackKeep);
}

}  // namespace
