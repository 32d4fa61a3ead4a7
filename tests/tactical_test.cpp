// The tactical generators used by the quiescence search: captures (en passant included) and queen
// promotions, nothing else, in a fixed order.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"

namespace {

int TypeOf(int code) { return (code - 1) % 6 + 1; }  // 1 pawn .. 6 king

std::string Text(Move m) {
    char buf[6];
    MoveToText(m, buf);
    return buf;
}

std::string Texts(const std::vector<Move>& moves) {
    std::string s;
    for (Move m : moves) s += Text(m) + (m.captured ? "x" : "") + " ";
    return s;
}

std::vector<Move> Moves(const MoveList& list) {
    std::vector<Move> result;
    for (const MoveSlot* s = list.slots; s < list.end; ++s) result.push_back(s->move);
    return result;
}

std::vector<Move> Full() {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    return Moves(list);
}

std::vector<Move> Tactical() {
    MoveList list;
    ClearMoveList(list);
    if (Board.SideToMove == White)
        GenerateWhiteTactical(list);
    else
        GenerateBlackTactical(list);
    return Moves(list);
}

bool IsQueenPromotion(Move m) { return m.kind == WhiteQueen || m.kind == BlackQueen; }

// The moves of the full list that change material the way the quiescence search wants: captures
// without under-promotion, and queen promotions with or without capture.
std::vector<Move> MaterialMoves(const std::vector<Move>& all) {
    std::vector<Move> result;
    for (Move m : all)
        if (IsQueenPromotion(m) || (m.captured && !IsPromotion(m))) result.push_back(m);
    return result;
}

// Rank of a tactical move in the generation order: en passant, pawn captures in the first and the
// second direction, quiet queen promotions, then knight, bishop, rook, queen and king captures.
int Group(Move m) {
    int mover = TypeOf(Board.Mailbox[m.from]);
    if (m.kind == KindEnPassant) return 0;
    if (mover == 1) {
        if (!m.captured) return 3;
        // White takes towards the h-file first (to = from - 7), Black towards the a-file (to = from + 7).
        int step = Board.SideToMove == White ? m.from - m.to : m.to - m.from;
        return step == 7 ? 1 : 2;
    }
    return 2 + mover;  // knight 4 .. king 8
}

class TacticalTest : public ::testing::Test {
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

    static std::vector<std::string> PerftFens() {
        std::vector<std::string> result;
        std::ifstream in(VORNA_TESTDATA "/perft.epd");
        std::string text;
        while (std::getline(in, text)) {
            size_t semi = text.find(';');
            if (semi != std::string::npos) result.push_back(text.substr(0, semi));
        }
        return result;
    }

    // Every property of the tactical list of the current position, measured against the full list.
    static void CheckAgainstFullList(const std::string& where) {
        SCOPED_TRACE(where);
        std::vector<Move> want = MaterialMoves(Full());
        const u8 savedCheck = Board.CurrentState->InCheck;
        for (int inCheck = 0; inCheck < 2; ++inCheck) {
            Board.CurrentState->InCheck = u8(inCheck);
            std::vector<Move> got = Tactical();
            // Same moves, in the same order: the full list walks its steps in the same order and the
            // tactical one only leaves out pushes, under-promotions and castling.
            ASSERT_EQ(Texts(got), Texts(want)) << "InCheck " << inCheck;
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(MoveWord(got[i]), MoveWord(want[i])) << i;

            int lastGroup = -1, lastTarget = -1, lastOrigin = -1;
            for (Move m : got) {
                PieceCode mover = Board.Mailbox[m.from];
                ASSERT_NE(mover, NoPiece) << Text(m);
                EXPECT_EQ(mover <= WhiteKing, Board.SideToMove == White) << Text(m);
                EXPECT_TRUE(m.captured || IsQueenPromotion(m)) << Text(m);
                EXPECT_NE(m.kind, KindCastling);
                EXPECT_NE(m.kind, KindDoublePush);
                if (m.kind != KindEnPassant) {
                    EXPECT_EQ(m.captured, Board.Mailbox[m.to]) << Text(m);
                }
                if (m.captured) {
                    EXPECT_EQ(m.captured <= WhiteKing, Board.SideToMove == Black) << Text(m);
                }
                int g = Group(m);
                EXPECT_GE(g, lastGroup) << Text(m) << " out of order";
                if (g != lastGroup) lastTarget = lastOrigin = -1;
                // Pawn steps walk targets upwards; piece steps walk origins, then targets, upwards.
                if (g <= 3) {
                    if (g > 0) {
                        EXPECT_GT(m.to, lastTarget) << Text(m);
                    }
                } else {
                    EXPECT_GE(m.from, lastOrigin) << Text(m);
                    if (m.from == lastOrigin) {
                        EXPECT_GT(m.to, lastTarget) << Text(m);
                    }
                }
                lastGroup = g;
                lastTarget = m.to;
                lastOrigin = m.from;
            }
        }
        Board.CurrentState->InCheck = savedCheck;
    }
};

TEST_F(TacticalTest, QuietPositionsGiveAnEmptyList) {
    // Pawns short of the seventh rank and pieces that touch nothing of the enemy.
    Set("4k3/3p4/8/1n6/8/8/4P3/R3K2R w KQ -");
    EXPECT_TRUE(Tactical().empty()) << Texts(Tactical());
    Flip();
    EXPECT_TRUE(Tactical().empty()) << Texts(Tactical());
    // A pawn on its seventh rank with the square ahead blocked and nothing to take.
    Set("4k3/4P3/8/8/8/8/8/4K3 w - -");
    EXPECT_TRUE(Tactical().empty()) << Texts(Tactical());
    Flip();
    EXPECT_TRUE(Tactical().empty()) << Texts(Tactical());
}

TEST_F(TacticalTest, PromotionsAreQueensOnlyCaptureFirst) {
    Set("r3k3/1P6/8/8/8/8/8/4K3 w - -");
    std::vector<Move> moves = Tactical();
    ASSERT_EQ(moves.size(), 2u) << Texts(moves);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{u8(Sq("b7")), u8(Sq("a8")), WhiteQueen, BlackRook}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{u8(Sq("b7")), u8(Sq("b8")), WhiteQueen, 0}));

    // The twin: Black pawn on b2, White rook on a1.
    Flip();
    moves = Tactical();
    ASSERT_EQ(moves.size(), 2u) << Texts(moves);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{u8(Sq("b2")), u8(Sq("a1")), BlackQueen, WhiteRook}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{u8(Sq("b2")), u8(Sq("b1")), BlackQueen, 0}));

    // A quiet queen promotion comes after every pawn capture, also those on lower ranks, and before
    // the piece captures.
    Set("1n2k3/P7/1p6/P7/8/8/8/1Q2K3 w - -");
    EXPECT_EQ(Texts(Tactical()), "a7b8qx a5b6x a7a8q b1b6x ");
    Flip();
    // Black walks its targets upwards too, so the pawn further up the board comes first.
    EXPECT_EQ(Texts(Tactical()), "a4b3x a2b1qx a2a1q b8b3x ");
}

TEST_F(TacticalTest, EnPassantComesFirst) {
    // White pawns on both sides of the pawn that just moved, and other captures that come later.
    Set("4k3/8/1n6/2PpP3/7n/8/8/4K2R w K d6");
    std::vector<Move> moves = Tactical();
    ASSERT_EQ(moves.size(), 4u) << Texts(moves);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{u8(Sq("c5")), u8(Sq("d6")), KindEnPassant, BlackPawn}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{u8(Sq("e5")), u8(Sq("d6")), KindEnPassant, BlackPawn}));
    EXPECT_EQ(Texts(moves), "c5d6x e5d6x c5b6x h1h4x ");
    Flip();
    moves = Tactical();
    ASSERT_EQ(moves.size(), 4u) << Texts(moves);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{u8(Sq("c4")), u8(Sq("d3")), KindEnPassant, WhitePawn}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{u8(Sq("e4")), u8(Sq("d3")), KindEnPassant, WhitePawn}));
    EXPECT_EQ(Texts(moves), "c4d3x e4d3x c4b3x h8h5x ");

    // Without the en-passant square the pawns beside the pushed pawn have no capture there.
    Set("4k3/8/8/2PpP3/8/8/8/4K3 w - -");
    EXPECT_TRUE(Tactical().empty()) << Texts(Tactical());
}

TEST_F(TacticalTest, NoCastlingWhateverInCheckSays) {
    Set("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    for (int side = 0; side < 2; ++side) {
        for (int inCheck = 0; inCheck < 2; ++inCheck) {
            Board.CurrentState->InCheck = u8(inCheck);
            // The rooks see each other along the files: those captures are the whole list.
            std::vector<Move> moves = Tactical();
            EXPECT_EQ(moves.size(), 2u) << Texts(moves);
            for (Move m : moves) EXPECT_NE(m.kind, KindCastling) << Text(m);
        }
        // The full generator does castle here.
        int castles = 0;
        for (Move m : Full()) castles += m.kind == KindCastling;
        EXPECT_EQ(castles, 2);
        Flip();
    }
}

TEST_F(TacticalTest, KingTakesADefendedPieceAndMakeRefusesIt) {
    Set("4k3/8/8/8/8/1n6/3p4/4K3 w - -");
    std::vector<Move> moves = Tactical();
    ASSERT_EQ(moves.size(), 1u) << Texts(moves);
    EXPECT_EQ(Text(moves[0]), "e1d2");
    EXPECT_EQ(moves[0].captured, BlackPawn);
    EXPECT_FALSE(MakeWhiteMove(moves[0]));
    Flip();
    moves = Tactical();
    ASSERT_EQ(moves.size(), 1u) << Texts(moves);
    EXPECT_EQ(Text(moves[0]), "e8d7");
    EXPECT_EQ(moves[0].captured, WhitePawn);
    EXPECT_FALSE(MakeBlackMove(moves[0]));
}

TEST_F(TacticalTest, AppendsAtEndAndLeavesKeysAndCursorAlone) {
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    std::vector<Move> alone = Tactical();
    ASSERT_FALSE(alone.empty());
    MoveList list;
    ClearMoveList(list);
    for (MoveSlot& s : list.slots) s.orderKey = 0xBEEF;
    list.slots[0].move = Move{1, 2, 0, 0};
    list.slots[1].move = Move{3, 4, 0, 0};
    list.end = list.slots + 2;
    list.next = list.slots + 1;
    GenerateWhiteTactical(list);
    EXPECT_EQ(list.next, list.slots + 1);
    EXPECT_EQ(MoveWord(list.slots[0].move), MoveWord(Move{1, 2, 0, 0}));
    EXPECT_EQ(MoveWord(list.slots[1].move), MoveWord(Move{3, 4, 0, 0}));
    ASSERT_EQ(MoveCount(list), int(alone.size()) + 2);
    for (size_t i = 0; i < alone.size(); ++i) EXPECT_EQ(MoveWord(list.slots[i + 2].move), MoveWord(alone[i]));
    for (const MoveSlot& s : list.slots) EXPECT_EQ(s.orderKey, 0xBEEF);
}

// The strong check: on every position of the perft suite, its colour-flipped twin, and every position
// one legal move from either, the tactical list is exactly the captures and queen promotions of the
// full list, in the same order, and whatever InCheck holds.
TEST_F(TacticalTest, EqualsTheMaterialMovesOfTheFullListEverywhere) {
    std::vector<std::string> fens = PerftFens();
    ASSERT_GE(fens.size(), 50u);
    fens.push_back("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    fens.push_back("n1n5/PPPk4/8/8/8/8/4Kppp/5N1N w - -");
    fens.push_back("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -");
    fens.push_back("rnbqkbnr/pp1p1ppp/8/2pPp3/8/8/PPP1PPPP/RNBQKBNR w KQkq e6");
    int positions = 0, nonEmpty = 0;
    for (const std::string& fen : fens) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            std::string where = fen + (flip ? " (flipped)" : "");
            CheckAgainstFullList(where);
            ++positions;
            nonEmpty += !Tactical().empty();
            for (Move m : Full()) {
                if (!MakeMove(m)) continue;
                CheckAgainstFullList(where + " after " + Text(m));
                ++positions;
                nonEmpty += !Tactical().empty();
                UnmakeMove(m);
                if (HasFatalFailure()) return;
            }
            Flip();
        }
    }
    EXPECT_GT(positions, 2500);
    EXPECT_GT(nonEmpty, positions / 2);
}

}  // namespace
