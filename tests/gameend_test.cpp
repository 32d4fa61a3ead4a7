// Game-end adjudication: mate, stalemate, repetition, fifty moves and insufficient material, with the
// result line each one writes and the order in which the rules are tried.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "frontend/gameend.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"

namespace {

int TypeOf(int code) { return (code - 1) % 6 + 1; }  // 1 pawn .. 6 king

class GameEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitTables();
        InitZobrist();
    }

    static void Set(const std::string& fen) { ASSERT_TRUE(SetBoard(fen.c_str())) << fen << ": " << SetBoardError; }

    static void Flip() {
        FlipColours();
        ComputeHashKey();
        Board.CurrentState->InCheck = SideToMoveInCheck();
    }

    // Plays one move given as text, the way the xboard loop does.
    static void Play(const char* text) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        ASSERT_NE(MoveWord(m), MoveWord(NullMove)) << text;
        ASSERT_TRUE(MakeMove(m)) << text;
    }

    // Runs CheckGameEnd and returns what it wrote; *ended receives its result.
    static std::string Adjudicate(bool* ended = nullptr) {
        testing::internal::CaptureStdout();
        bool result = CheckGameEnd();
        std::string out = testing::internal::GetCapturedStdout();
        if (ended) *ended = result;
        EXPECT_EQ(result, !out.empty()) << out;
        return out;
    }

    // Plays count reversible moves (no capture, no pawn move, no castling, no check) whose moving piece
    // allowed accepts, such that no position repeats one in seen (which receives the new ones). The
    // path is found by a depth-first search and then played again with afterEachPly called after
    // every ply. Returns false when there is no such path.
    static bool WalkWithoutRepeating(int count, const std::function<bool(Move)>& allowed, std::set<u64>& seen,
                                     const std::function<void(int)>& afterEachPly = nullptr) {
        seen.insert(Board.CurrentState->HashKey);
        std::vector<Move> path;
        if (!FindWalk(count, allowed, seen, path)) return false;
        for (size_t i = path.size(); i-- > 0;) UnmakeMove(path[i]);
        for (size_t i = 0; i < path.size(); ++i) {
            Board.CurrentState->InCheck = SideToMoveInCheck();
            if (!MakeMove(path[i])) return false;
            EXPECT_EQ(Board.CurrentState->Reversible, 1);
            if (afterEachPly) afterEachPly(int(i) + 1);
        }
        return true;
    }

    static bool FindWalk(int count, const std::function<bool(Move)>& allowed, std::set<u64>& seen,
                         std::vector<Move>& path) {
        if (count == 0) return true;
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
            Move m = slot->move;
            if (m.captured || m.kind || TypeOf(Board.Mailbox[m.from]) == 1 || !allowed(m)) continue;
            if (!MakeMove(m)) continue;
            u64 key = Board.CurrentState->HashKey;
            if (!SideToMoveInCheck() && !seen.count(key)) {
                seen.insert(key);
                path.push_back(m);
                if (FindWalk(count - 1, allowed, seen, path)) return true;
                path.pop_back();
                seen.erase(key);
            }
            UnmakeMove(m);
        }
        return false;
    }
};

// ---------------------------------------------------------------------------------------------------
// Mate, stalemate, check

TEST_F(GameEndTest, FoolsMateIsAnnouncedForBlack) {
    Set(StartFen);
    const char* moves[] = {"f2f3", "e7e5", "g2g4"};
    for (const char* m : moves) {
        Play(m);
        EXPECT_EQ(Adjudicate(), "") << "after " << m;
    }
    Play("d8h4");
    bool ended = false;
    EXPECT_EQ(Adjudicate(&ended), "0-1 {mate}\n");
    EXPECT_TRUE(ended);
    EXPECT_EQ(Board.CurrentState->InCheck, 1);
}

TEST_F(GameEndTest, MateOfBlackIsAnnouncedForWhite) {
    Set(StartFen);
    for (const char* m : {"e2e4", "f7f6", "d2d4", "g7g5"}) Play(m);
    EXPECT_EQ(Adjudicate(), "");
    Play("d1h5");
    EXPECT_EQ(Adjudicate(), "1-0 {mate}\n");
}

TEST_F(GameEndTest, StalemateAlsoWithBlockedPawns) {
    for (const char* fen : {"7k/8/4Q1K1/8/8/8/8/8 w - -", "7k/8/4Q1K1/p7/P7/8/8/8 w - -"}) {
        Set(fen);
        Play("e6f7");
        EXPECT_TRUE(HasNoLegalMove()) << fen;
        EXPECT_EQ(Adjudicate(), "1/2-1/2 {stalemate}\n") << fen;
        EXPECT_EQ(Board.CurrentState->InCheck, 0);
        // The twin: White stalemated by Black.
        Set(fen);
        Flip();
        Play("e3f2");
        EXPECT_EQ(Adjudicate(), "1/2-1/2 {stalemate}\n") << fen << " flipped";
    }
}

TEST_F(GameEndTest, CheckWithAnEscapeEndsNothing) {
    Set(StartFen);
    for (const char* m : {"e2e4", "f7f6", "d1h5"}) Play(m);
    bool ended = true;
    EXPECT_EQ(Adjudicate(&ended), "");
    EXPECT_FALSE(ended);
    EXPECT_EQ(Board.CurrentState->InCheck, 1);  // stored for the generator
    // The only escape is g6; the first generated moves are illegal, and nothing is left changed.
    PositionState* before = Board.CurrentState;
    u64 key = before->HashKey;
    EXPECT_FALSE(HasNoLegalMove());
    EXPECT_EQ(Board.CurrentState, before);
    EXPECT_EQ(Board.CurrentState->HashKey, key);
    EXPECT_EQ(FullHashKey(), key);
}

TEST_F(GameEndTest, NoLegalMoveTestLeavesTheBoardAlone) {
    // A pinned piece whose moves come first in the list and are all illegal.
    Set("4k3/8/8/8/8/8/4r3/r3K3 w - -");
    PieceCode mailbox[64];
    std::memcpy(mailbox, Board.Mailbox, sizeof mailbox);
    u64 key = Board.CurrentState->HashKey;
    Board.CurrentState->InCheck = SideToMoveInCheck();
    EXPECT_FALSE(HasNoLegalMove());  // Kxe2
    EXPECT_EQ(std::memcmp(mailbox, Board.Mailbox, sizeof mailbox), 0);
    EXPECT_EQ(Board.CurrentState->HashKey, key);
    EXPECT_EQ(StateIndex(), 0);
    Set("4k3/8/8/8/8/8/3qr3/r3K3 w - -");  // e2 is guarded now
    Board.CurrentState->InCheck = SideToMoveInCheck();
    EXPECT_TRUE(HasNoLegalMove());
    EXPECT_EQ(Adjudicate(), "0-1 {mate}\n");
}

// ---------------------------------------------------------------------------------------------------
// Repetition

TEST_F(GameEndTest, KnightDanceFromTheStartIsClaimedAtPlyNine) {
    Set(StartFen);
    const char* dance[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int ply = 1; ply <= 8; ++ply) {
        Play(dance[(ply - 1) % 4]);
        EXPECT_FALSE(IsRepetitionDraw()) << "ply " << ply;
        EXPECT_EQ(Adjudicate(), "") << "ply " << ply;
    }
    // The start position now stood three times, but the one set up is never counted.
    Play("g1f3");
    EXPECT_TRUE(IsRepetitionDraw());
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {repetition}\n");
}

// A long game trims the bottom of the state stack, so its first record may then hold a reversible
// move. The next game's setup must still not count.
TEST_F(GameEndTest, SetupIsNotCountedAfterALongGameWasTrimmed) {
    Set(StartFen);
    const char* dance[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int ply = 1; ply <= GameStackLimit + 10; ++ply) Play(dance[(ply - 1) % 4]);
    ASSERT_GT(TrimGameStack(), 0);
    ASSERT_EQ(Board.StateStack[0].Reversible, 1);

    Set(StartFen);
    EXPECT_EQ(Board.StateStack[0].Reversible, 0);
    for (int ply = 1; ply <= 8; ++ply) {
        Play(dance[(ply - 1) % 4]);
        EXPECT_FALSE(IsRepetitionDraw()) << "ply " << ply;
    }
    Play("g1f3");
    EXPECT_TRUE(IsRepetitionDraw());
    Board.StateStack[0].Reversible = 0;  // leave no trimmed record behind for the tests that follow
}

TEST_F(GameEndTest, KnightDanceAfterPawnMovesIsClaimedAtPlyEleven) {
    Set(StartFen);
    Play("e2e4");
    Play("e7e5");
    const char* dance[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int ply = 3; ply <= 10; ++ply) {
        Play(dance[(ply - 3) % 4]);
        EXPECT_EQ(Adjudicate(), "") << "ply " << ply;
    }
    Play("g1f3");
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {repetition}\n");
}

TEST_F(GameEndTest, PositionFirstReachedByCastlingIsNotCounted) {
    // The same position P after O-O and after Kh1-g1; only the second arrival is reversible.
    Set("4k3/8/8/8/8/8/8/4K2R w K -");
    Play("e1g1");
    const u64 p = Board.CurrentState->HashKey;
    const char* shuffle[] = {"e8e7", "g1h1", "e7e8", "h1g1"};
    for (int ply = 2; ply <= 9; ++ply) {
        Play(shuffle[(ply - 2) % 4]);
        EXPECT_FALSE(IsRepetitionDraw()) << "ply " << ply;
    }
    EXPECT_EQ(Board.CurrentState->HashKey, p);  // its third occurrence, unclaimed
    EXPECT_EQ(Adjudicate(), "");
    Play(shuffle[0]);  // ply 10: the position after ply 2 stands for the third time
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {repetition}\n");

    Set("4k3/8/8/8/8/8/8/5R1K w - -");
    Play("h1g1");
    EXPECT_EQ(Board.CurrentState->HashKey, p);
    for (int ply = 2; ply <= 8; ++ply) {
        Play(shuffle[(ply - 2) % 4]);
        EXPECT_FALSE(IsRepetitionDraw()) << "ply " << ply;
    }
    Play(shuffle[3]);  // ply 9: third occurrence of P, all three reached reversibly
    EXPECT_TRUE(IsRepetitionDraw());
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {repetition}\n");
}

TEST_F(GameEndTest, PositionFirstReachedByACaptureIsNotCounted) {
    Set("4k3/8/8/4n3/8/5N2/8/6K1 w - -");
    Play("f3e5");  // the capture makes the first occurrence of P
    const u64 p = Board.CurrentState->HashKey;
    const char* shuffle[] = {"e8e7", "e5f3", "e7e8", "f3e5"};
    for (int ply = 2; ply <= 9; ++ply) {
        Play(shuffle[(ply - 2) % 4]);
        EXPECT_FALSE(IsRepetitionDraw()) << "ply " << ply;
    }
    EXPECT_EQ(Board.CurrentState->HashKey, p);
    Play(shuffle[0]);  // ply 10
    EXPECT_TRUE(IsRepetitionDraw());
}

// ---------------------------------------------------------------------------------------------------
// Fifty moves

TEST_F(GameEndTest, FiftyMovesAfterOneHundredReversiblePlies) {
    Set("r3k3/1n6/8/8/8/8/1N6/R3K3 w - - 99 80");  // the clock of the text plays no part
    std::set<u64> seen;
    auto knights = [](Move m) { return TypeOf(Board.Mailbox[m.from]) == 2; };
    ASSERT_TRUE(WalkWithoutRepeating(99, knights, seen, [](int ply) {
        EXPECT_EQ(Adjudicate(), "") << "ply " << ply;
    }));
    ASSERT_TRUE(WalkWithoutRepeating(1, knights, seen));
    EXPECT_EQ(StateIndex(), 100);
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {50 moves}\n");
}

TEST_F(GameEndTest, PawnMoveOrCastlingStartsTheCountAgain) {
    // A pawn move at ply 49.
    Set("r3k3/1n6/8/8/8/8/1N4P1/R3K3 w - -");
    std::set<u64> seen;
    auto knights = [](Move m) { return TypeOf(Board.Mailbox[m.from]) == 2; };
    ASSERT_TRUE(WalkWithoutRepeating(48, knights, seen));
    Play("g2g3");  // ply 49
    ASSERT_TRUE(WalkWithoutRepeating(99, knights, seen));
    EXPECT_EQ(Adjudicate(), "");
    ASSERT_TRUE(WalkWithoutRepeating(1, knights, seen));
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {50 moves}\n");

    // Castling at ply 61.
    Set("r3k3/1n6/8/8/8/8/1N6/4K2R w K -");
    seen.clear();
    // Keep White's king and rook at home, and Black away from the castling squares.
    auto castlingStays = [](Move m) {
        if (Board.SideToMove == White) return TypeOf(Board.Mailbox[m.from]) == 2;
        if (!MakeMove(m)) return false;
        bool clear = !AttackedByBlack(E1) && !AttackedByBlack(F1) && !AttackedByBlack(G1) &&
                     Board.Mailbox[F1] == NoPiece && Board.Mailbox[G1] == NoPiece;
        UnmakeMove(m);
        return clear;
    };
    ASSERT_TRUE(WalkWithoutRepeating(60, castlingStays, seen));
    Play("e1g1");
    EXPECT_EQ(Board.CurrentState->Reversible, 0);
    ASSERT_TRUE(WalkWithoutRepeating(99, knights, seen, [](int ply) {
        EXPECT_EQ(Adjudicate(), "") << ply << " plies after castling";
    }));
    EXPECT_EQ(StateIndex(), 160);
    ASSERT_TRUE(WalkWithoutRepeating(1, knights, seen));
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {50 moves}\n");
}

// ---------------------------------------------------------------------------------------------------
// Insufficient material

TEST_F(GameEndTest, InsufficientMaterial) {
    struct Case {
        const char* fen;
        bool drawn;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/4K3 w - -", true},       // bare kings
        {"4k3/8/8/8/8/8/8/1N2K3 w - -", true},     // knight
        {"4k3/8/8/8/8/8/8/2B1K3 w - -", true},     // bishop
        {"2b1k3/8/8/8/8/8/8/4K3 w - -", true},     // Black's bishop
        {"4kb2/8/8/8/8/8/8/2B1K3 w - -", true},    // bishops on dark squares (c1, f8)
        {"2b1k3/8/8/8/8/8/8/3BK3 w - -", true},    // bishops on light squares (d1, c8)
        {"2b1k3/8/8/8/8/8/8/2B1K3 w - -", false},  // c1 dark, c8 light
        {"4k3/8/8/8/8/8/8/1NN1K3 w - -", false},   // two knights
        {"4k3/8/8/8/8/8/8/2BBK3 w - -", false},    // two bishops of one side
        {"4k3/8/8/8/8/8/8/1B2KB2 w - -", false},   // two bishops of one side on one colour
        {"1n2k3/8/8/8/8/8/8/2B1K3 w - -", false},  // bishop against knight
        {"1n2k3/8/8/8/8/8/8/1N2K3 w - -", false},  // knight against knight
        {"4k3/8/8/8/8/8/P7/4K3 w - -", false},     // a pawn
        {"4k3/8/8/8/8/8/8/R3K3 w - -", false},     // a rook
        {"4k3/8/8/8/8/8/8/3QK3 w - -", false},     // a queen
        {"2b1kb2/8/8/8/8/8/8/2B1K3 w - -", false}, // five pieces
    };
    for (const Case& c : cases) {
        for (int flip = 0; flip < 2; ++flip) {
            Set(c.fen);
            if (flip) Flip();
            SCOPED_TRACE(std::string(c.fen) + (flip ? " (flipped)" : ""));
            EXPECT_EQ(IsInsufficientMaterial(), c.drawn);
            EXPECT_EQ(Adjudicate(), c.drawn ? "1/2-1/2 {insufficient material}\n" : "");
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Several rules at once: the first in order is announced

TEST_F(GameEndTest, StalemateBeforeInsufficientMaterial) {
    Set("k7/2K5/8/8/3B4/8/8/8 w - -");
    Play("d4b6");
    EXPECT_TRUE(IsInsufficientMaterial());
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {stalemate}\n");
}

TEST_F(GameEndTest, RepetitionBeforeInsufficientMaterial) {
    Set("4k3/8/8/8/8/8/8/1N2K3 w - -");
    const char* dance[] = {"b1c3", "e8d8", "c3b1", "d8e8"};
    for (int ply = 1; ply <= 8; ++ply) Play(dance[(ply - 1) % 4]);
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {insufficient material}\n");
    Play("b1c3");
    EXPECT_TRUE(IsRepetitionDraw());
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {repetition}\n");
}

TEST_F(GameEndTest, FiftyMovesBeforeInsufficientMaterial) {
    Set("4k3/8/8/8/8/8/8/1N2K3 w - -");
    std::set<u64> seen;
    ASSERT_TRUE(WalkWithoutRepeating(99, [](Move) { return true; }, seen));
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {insufficient material}\n");
    ASSERT_TRUE(WalkWithoutRepeating(1, [](Move) { return true; }, seen));
    EXPECT_EQ(Adjudicate(), "1/2-1/2 {50 moves}\n");
}

TEST_F(GameEndTest, MateBeforeFiftyMoves) {
    // One hundred reversible plies, the last of them mating on the back rank.
    Set("6k1/5ppp/8/8/8/8/1n6/RN4K1 b - -");
    std::set<u64> seen;
    // White's knight keeps off the a-file and the back rank, Black's stays on the lower half where it
    // cannot defend.
    auto knightsAway = [](Move m) {
        if (TypeOf(Board.Mailbox[m.from]) != 2) return false;
        return Board.SideToMove == White ? FileOf(m.to) >= 2 && RowOf(m.to) >= 2 : RowOf(m.to) >= 4;
    };
    ASSERT_TRUE(WalkWithoutRepeating(99, knightsAway, seen));
    Play("a1a8");
    EXPECT_EQ(StateIndex(), 100);
    EXPECT_EQ(Board.CurrentState->Reversible, 1);
    EXPECT_EQ(Adjudicate(), "1-0 {mate}\n");
}

}  // namespace
