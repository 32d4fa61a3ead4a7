#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "board/attacks.h"
#include "board/fen.h"
#include "eval/evaluate.h"
#include "moves/makemove.h"
#include "moves/movegen.h"

namespace {

class EvalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitTables();
        InitZobrist();
    }

    // Sets up fen, which must be accepted, and returns the score for the side to move.
    static int Score(const char* fen) {
        bool accepted = SetBoard(fen);
        EXPECT_TRUE(accepted) << fen << ": " << SetBoardError;
        return Evaluate();
    }

    // Sets up every test position of perft.epd in turn and calls visit(fen) on it.
    template <class Visit>
    static void ForEachTestPosition(Visit visit) {
        std::ifstream epd(VORNA_TESTDATA "/perft.epd");
        ASSERT_TRUE(epd) << "cannot open perft.epd";
        std::string line;
        while (std::getline(epd, line)) {
            std::string fen = line.substr(0, line.find(';'));
            if (fen.find_first_not_of(" \t\r") == std::string::npos || !SetBoard(fen.c_str())) continue;
            visit(fen);
        }
    }

    // Makes every legal move of the current position in turn, calls visit(move) and takes it back.
    template <class Visit>
    static void ForEachLegalMove(Visit visit) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        for (MoveSlot* slot = list.slots; slot != list.end; ++slot) {
            if (!MakeMove(slot->move)) continue;
            visit(slot->move);
            UnmakeMove(slot->move);
        }
    }

    // Score of the colour-flipped twin of the current position; the position is restored afterwards.
    static int FlippedScore() {
        FlipColours();
        ComputeHashKey();
        int score = Evaluate();
        FlipColours();
        ComputeHashKey();
        return score;
    }
};

// A position and its colour-flipped twin must score the same for the side to move. Checked on every
// test position and on every position one legal move further.
TEST_F(EvalTest, ColourFlippedTwinsScoreTheSame) {
    int roots = 0, children = 0;
    std::set<int> scores;
    ForEachTestPosition([&](const std::string& fen) {
        ++roots;
        int rootScore = Evaluate();
        EXPECT_EQ(rootScore, FlippedScore()) << fen;
        scores.insert(rootScore);
        ForEachLegalMove([&](Move move) {
            ++children;
            int score = Evaluate();
            EXPECT_EQ(score, FlippedScore()) << fen << " after move " << MoveWord(move);
            scores.insert(score);
        });
        EXPECT_EQ(rootScore, Evaluate()) << fen << ": unmake did not restore the score";
    });
    EXPECT_GE(roots, 50);
    EXPECT_GE(children, 1000);
    EXPECT_GE(scores.size(), 100u) << "too few distinct scores for the check to mean much";
}

// The pawn-structure cache: over every test position and every position two legal moves further (many
// of them sharing pawns, so most scores come from entries written for another position, and many pawn
// structures sharing a cache slot), the score equals the one computed afresh, before and after the
// position's own entry is written.
TEST_F(EvalTest, CachedScoreEqualsFreshScore) {
    int positions = 0;
    std::set<std::pair<Bitboard, Bitboard>> structures;
    auto check = [&](const std::string& where) {
        ++positions;
        structures.insert({Board.PieceBB[WhitePawn], Board.PieceBB[BlackPawn]});
        int fresh = EvaluateUncached();
        EXPECT_EQ(fresh, Evaluate()) << where;
        EXPECT_EQ(fresh, Evaluate()) << where;
    };
    ForEachTestPosition([&](const std::string& fen) {
        check(fen);
        ForEachLegalMove([&](Move first) {
            std::string line = fen + " +" + std::to_string(MoveWord(first));
            check(line);
            ForEachLegalMove([&](Move second) { check(line + " +" + std::to_string(MoveWord(second))); });
        });
    });
    EXPECT_GE(positions, 30000);
    EXPECT_GE(structures.size(), 3000u) << "too few pawn structures to share the cache slots";
}

TEST_F(EvalTest, StartPositionIsEven) {
    EXPECT_EQ(0, Score(StartFen));
    EXPECT_EQ(0, Score("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -"));
}

// Shelter values on squares the king terms never use, including the top ranks where the squares
// further ahead lie off the board: every value stays within 0..80, and White's shelter on a square
// equals Black's on the mirrored square of the flipped position.
TEST_F(EvalTest, ShelterIsBoundedAndMirroredOnEverySquare) {
    const char* fens[] = {
        StartFen,
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
        "4k3/P6P/8/8/8/8/8/4K3 w - -",  // White pawns on the seventh rank
        "4k3/8/8/8/8/8/8/4K3 w - -",    // no pawns at all: 20 on every square, 80 inside, 60 on the edges
    };
    for (const char* fen : fens) {
        ASSERT_TRUE(SetBoard(fen)) << fen;
        u16 white[64];
        for (int s = 0; s < 64; ++s) {
            white[s] = WhiteShelter(Square(s));
            EXPECT_LE(white[s], 80) << fen << " square " << s;
            EXPECT_LE(BlackShelter(Square(s)), 80) << fen << " square " << s;
        }
        FlipColours();
        ComputeHashKey();
        for (int s = 0; s < 64; ++s) EXPECT_EQ(white[s], BlackShelter(Mirror[s])) << fen << " square " << s;
    }
    // Start position, e8: no pawn on e8 or ahead of it (off the board), but one on the file: 15 each.
    // 2 * 15 + 15 + 15 = 60; a8 has only one neighbour: 2 * 15 + 15 = 45.
    ASSERT_TRUE(SetBoard(StartFen));
    EXPECT_EQ(60, WhiteShelter(E8));
    EXPECT_EQ(45, WhiteShelter(A8));
    EXPECT_EQ(60, BlackShelter(E1));
    EXPECT_EQ(0, WhiteShelter(E2));
    EXPECT_EQ(0, BlackShelter(E7));
    ASSERT_TRUE(SetBoard("4k3/8/8/8/8/8/8/4K3 w - -"));
    EXPECT_EQ(80, WhiteShelter(E2));
    EXPECT_EQ(60, WhiteShelter(H2));
    EXPECT_EQ(60, BlackShelter(A7));
}

// White Kg1 behind f2 g2 h2; Black Ka8 Qb8 Rc8.
//   rook c8 on an open file -18; Kg1 middle game (Black Q + R = 1400 > 900) +15, shelter g2 0;
//   Ka8 end table (White has no queen): -KingEndTable[a1] = +30; passed f2 g2 h2: 6 + 7 + 4 = 17.
//   pos = -18 + 15 + 30 + 17 = 44; t = 44 + 300 - 1400 = -1056.
// With g3 instead of g2: p(g2) = 4 counted twice, -8; the passed bonus on g3 is 7 as on g2.
// With g4: p(g2) = 12, -24, passed 15 instead of 7: -1056 - 24 + 8 = -1072.
// With g5: only a pawn somewhere on the file, p(g2) = 15, -30, passed 25: -1056 - 30 + 18 = -1068.
TEST_F(EvalTest, KingShelterOnTheKingSide) {
    EXPECT_EQ(-1056, Score("kqr5/8/8/8/8/8/5PPP/6K1 w - -"));
    EXPECT_EQ(0, WhiteShelter(G2));
    EXPECT_EQ(1056, Score("kqr5/8/8/8/8/8/5PPP/6K1 b - -"));

    EXPECT_EQ(-1064, Score("kqr5/8/8/8/8/6P1/5P1P/6K1 w - -"));
    EXPECT_EQ(8, WhiteShelter(G2));
    EXPECT_EQ(-1072, Score("kqr5/8/8/8/6P1/8/5P1P/6K1 w - -"));
    EXPECT_EQ(24, WhiteShelter(G2));
    EXPECT_EQ(-1068, Score("kqr5/8/8/6P1/8/8/5P1P/6K1 w - -"));
    EXPECT_EQ(30, WhiteShelter(G2));
}

// A king on file d or e without castling rights pays for the square in front of it, plus 20, but only
// up to rank 5.
TEST_F(EvalTest, KingShelterInTheCentreWithoutCastling) {
    // Kd1 behind a2..h2 against Ka8 Qb8 Rc8: rook c8 half-open -6, Kd1 middle -10, shelter(d2) 0 + 20,
    // Ka8 end +30, passed 44. pos = -6 - 10 - 20 + 30 + 44 = 38; t = 38 + 800 - 1400 = -562.
    EXPECT_EQ(-562, Score("kqr5/8/8/8/8/8/PPPPPPPP/3K4 w - -"));

    // Black Ka8 Rb8 Qh1: rook b8 open -18, Ka8 end +30. No White pawns: every shelter square 20.
    //   Ke5: middle -99, shelter(e4) + 20 = 80 + 20: pos = -18 - 99 - 100 + 30 = -187; t = -187 - 1400.
    //   Ke6: middle -99 and nothing more: pos = -87; t = -1487.
    EXPECT_EQ(-1587, Score("kr6/8/8/4K3/8/8/8/7q w - -"));
    EXPECT_EQ(-1487, Score("kr6/8/4K3/8/8/8/8/7q w - -"));
}

// White Ke1 Ra1 Rh1 with pawns; Black Ka8 Qb8 Rc8.
//   Common part: rook c8 half-open (pawn c2) -6; rooks a1 h1 behind own pawns 0; Ke1 middle -10;
//   Ka8 end table +30; material White 1000 + pawns, Black 1400.
TEST_F(EvalTest, KingShelterWhileCastlingIsPossible) {
    // All pawns, KQ: cur = shelter(e2) = 0, no penalty. Passed a2..h2: 44.
    // pos = -6 - 10 + 30 + 44 = 58; t = 58 + 1800 - 1400 = 458.
    EXPECT_EQ(458, Score("kqr5/8/8/8/8/8/PPPPPPPP/R3K2R w KQ -"));
    // No castling rights: shelter(e2) + 20 = 20. pos = 38; t = 438.
    EXPECT_EQ(438, Score("kqr5/8/8/8/8/8/PPPPPPPP/R3K2R w - -"));

    // Without the e-pawn: cur = shelter(e2) = 2 * 20 + 0 + 0 = 40, ks = qs = 0: (40 + 0) / 2 = 20.
    // Passed 44 - 5 = 39. pos = -6 - 10 + 30 + 39 - 20 = 33; t = 33 + 1700 - 1400 = 333.
    EXPECT_EQ(333, Score("kqr5/8/8/8/8/8/PPPP1PPP/R3K2R w KQ -"));
    EXPECT_EQ(40, WhiteShelter(E2));
    EXPECT_EQ(333, Score("kqr5/8/8/8/8/8/PPPP1PPP/R3K2R w K -"));  // ks alone gives the same minimum

    // Without the e- and b-pawns. Passed a2 c2 d2 f2 g2 h2: 4 + 6 + 5 + 6 + 7 + 4 = 32; a2 isolated -10.
    // KQ: cur = 40, ks = 0 -> 20: pos = -6 - 10 - 20 + 30 + 32 - 10 = 16; t = 16 + 1600 - 1400 = 216.
    EXPECT_EQ(216, Score("kqr5/8/8/8/8/8/P1PP1PPP/R3K2R w KQ -"));
    // Q only: qs = shelter(b2) = 2 * 20 = 40, ks = 100: (40 + 40) / 2 = 40; pos = -4; t = 196.
    EXPECT_EQ(196, Score("kqr5/8/8/8/8/8/P1PP1PPP/R3K2R w Q -"));
    EXPECT_EQ(40, WhiteShelter(B2));

    // d-pawn on d5: p(d2) = 15, so cur = 0 + 15 + 0 = 15 and ks = 0: 15 / 2 = 7, rounded down.
    // Passed a2 b2 c2 e2 f2 g2 h2 39 + d5 18 = 57. pos = -6 - 10 - 7 + 30 + 57 = 64; t = 64 + 400 = 464.
    EXPECT_EQ(464, Score("kqr5/8/8/3P4/8/8/PPP1PPPP/R3K2R w KQ -"));
    EXPECT_EQ(15, WhiteShelter(E2));
}

// Black Kb8 behind a7 b7 c7; White Kh1 Qa1 Rb1.
//   rook b1 half-open (pawn b7) +6; Kh1 end table (Black has no queen) -30;
//   Kb8 middle (White Q + R = 1400) -KingMiddleTable[b1] = -10, shelter b7 0;
//   Black passed a7 b7 c7 (mirrored a2 b2 c2): -(4 + 7 + 6) = -17.
//   pos = 6 - 30 - 10 - 17 = -51; t = -51 + 1400 - 300 = 1049.
// With b6 instead of b7: p(b7) = 4 counted twice, +8 for White; mirrored b3 bonus is 7 as well.
TEST_F(EvalTest, BlackKingUsesMirroredTablesAndShelter) {
    EXPECT_EQ(1049, Score("1k6/ppp5/8/8/8/8/8/QR5K w - -"));
    EXPECT_EQ(-1049, Score("1k6/ppp5/8/8/8/8/8/QR5K b - -"));
    EXPECT_EQ(0, BlackShelter(B7));
    EXPECT_EQ(1057, Score("1k6/p1p5/1p6/8/8/8/8/QR5K w - -"));
    EXPECT_EQ(8, BlackShelter(B7));
}

// A queen alone is not enough for the middle-game king table (900 is not more than 900).
TEST_F(EvalTest, KingTableChoiceNeedsQueenAndMore) {
    // Kg1 end table -20; Ke8 -KingEndTable[e1] = +10. pos = -10; t = -10 - 900 = -910.
    EXPECT_EQ(-910, Score("q3k3/8/8/8/8/8/8/6K1 w - -"));
    // With a knight on b8 (-KnightTable[b1] = +5): Kg1 middle 15 - shelter(g2), which without pawns
    // is 2 * 20 + 20 + 20 = 80. pos = 15 - 80 + 10 + 5 = -50; t = -50 - 1225 = -1275.
    EXPECT_EQ(-1275, Score("qn2k3/8/8/8/8/8/8/6K1 w - -"));
}

// Bc1 and Bf1 with Ke1 against Ke8; both kings on end tables, -10 and +10.
//   c1: table 2, reaches b2 a3 d2 e3 f4 g5 h6 = 7; f1: table 2, reaches e2 d3 c4 b5 a6 g2 h3 = 7.
//   pos = 30 + (2 + 21) + (2 + 21) = 76; t = 76 + 650 = 726.
// A third bishop on a3 (table 2; reaches b4 c5 d6 e7 f8 b2 = 6) takes a3 from c1 (now 6): the pair
//   bonus still counts once. pos = 30 + (2 + 18) + (2 + 21) + (2 + 18) = 93; t = 93 + 975 = 1068.
TEST_F(EvalTest, BishopPairCountsOnce) {
    EXPECT_EQ(726, Score("4k3/8/8/8/8/8/8/2B1KB2 w - -"));
    EXPECT_EQ(1068, Score("4k3/8/8/8/8/B7/8/2B1KB2 w - -"));
}

// Ke1 Rd1 pawns a2 c4 against Ke8 Rh8 pawn d5; kings on end tables cancel (-10 + 10).
//   Rd1 half-open (Black d5) +6; Rh8 open -18; a2 isolated and passed -10 + 4;
//   c4 isolated, not passed (d5 ahead on a neighbouring file) -10; d5 isolated +10, not passed (c4).
//   pos = 6 - 18 - 10 + 4 - 10 + 10 = -18; t = -18 + 700 - 600 = 82.
TEST_F(EvalTest, RookFilesAndPawnStructure) {
    EXPECT_EQ(82, Score("4k2r/8/8/3p4/2P5/8/P7/3RK3 w - -"));
    EXPECT_EQ(82, FlippedScore());
}

// Without pawns and at most a minor piece up, the side ahead keeps only its positional part.
TEST_F(EvalTest, DrawishMaterial) {
    // K+B vs K. Bf1: 2 + 3 * 7; kings -10 + 10. pos = 23; t = 348 -> 23.
    EXPECT_EQ(23, Score("4k3/8/8/8/8/8/8/4KB2 w - -"));
    EXPECT_EQ(-23, Score("4k3/8/8/8/8/8/8/4KB2 b - -"));
    EXPECT_EQ(-23, FlippedScore());

    // Negative positional part. Bh1: -3 + 3 * 7 = 18; Ka1 -30; Ke5 -KingEndTable[e4] = -40.
    // pos = -52; t = 273 -> 0.
    EXPECT_EQ(0, Score("8/8/8/4k3/8/8/8/K6B w - -"));
    EXPECT_EQ(0, FlippedScore());

    // K+R vs K: a rook is more than a minor piece up, material counts. Rh1 open +18.
    // pos = 18 - 30 - 40 = -52; t = 500 - 52 = 448.
    EXPECT_EQ(448, Score("8/8/8/4k3/8/8/8/K6R w - -"));
    EXPECT_EQ(448, FlippedScore());

    // Even total, which the rule leaves alone. Nc3 +7, Rh8 open -18, Ka1 -30, Kh4 -KingEndTable[h5] = +5,
    // a2 b2 passed +11: pos = -25; t = -25 + 525 - 500 = 0. Neither side seems ahead: 0 both ways.
    EXPECT_EQ(0, Score("7r/8/8/8/7k/2N5/PP6/K7 w - -"));
    EXPECT_EQ(0, FlippedScore());
}

// The king tables are the only positional tables that are not left-right symmetric.
TEST_F(EvalTest, TablesAreLeftRightSymmetricExceptTheMiddleGameKing) {
    for (int s = 0; s < 64; ++s) {
        int m = s ^ 7;
        EXPECT_EQ(PassedPawnBonus[s], PassedPawnBonus[m]) << s;
        EXPECT_EQ(KnightTable[s], KnightTable[m]) << s;
        EXPECT_EQ(BishopTable[s], BishopTable[m]) << s;
        EXPECT_EQ(KingEndTable[s], KingEndTable[m]) << s;
    }
    EXPECT_EQ(-5, KingMiddleTable[F2]);
    EXPECT_EQ(-10, KingMiddleTable[C2]);
    EXPECT_EQ(5, KingMiddleTable[H2]);
    EXPECT_EQ(0, KingMiddleTable[A2]);
    EXPECT_EQ(15, KingMiddleTable[G1]);
    EXPECT_EQ(10, KingMiddleTable[B1]);
}

}  // namespace
