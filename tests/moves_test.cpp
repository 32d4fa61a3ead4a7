// Move generation (full and tactical), make/unmake and coordinate move text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
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
#include "moves/makemove_inline.h"
#include "moves/movegen.h"
#include "moves/movegen_inline.h"
#include "moves/notation.h"

namespace {

int TypeOf(int code) { return (code - 1) % 6 + 1; }  // 1 pawn .. 6 king

std::string Text(Move m) {
    char buf[6];
    MoveToText(m, buf);
    return buf;
}

std::vector<Move> Moves(const MoveList& list) {
    std::vector<Move> result;
    for (const MoveSlot* s = list.slots; s < list.end; ++s) result.push_back(s->move);
    return result;
}

std::vector<std::string> Texts(const std::vector<Move>& moves) {
    std::vector<std::string> result;
    for (Move m : moves) result.push_back(Text(m));
    return result;
}

// Full generation for the side to move, with InCheck brought up to date first.
std::vector<Move> Generated() {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    return Moves(list);
}

std::vector<Move> Tactical() {
    MoveList list;
    ClearMoveList(list);
    GenerateTactical(list);
    return Moves(list);
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> result;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t next = s.find(' ', pos);
        if (next == std::string::npos) next = s.size();
        if (next > pos) result.push_back(s.substr(pos, next - pos));
        pos = next + 1;
    }
    return result;
}

std::vector<std::string> PerftFens() {
    std::vector<std::string> result;
    std::ifstream in(VORNA_TESTDATA "/perft.epd");
    std::string text;
    while (std::getline(in, text)) {
        size_t semi = text.find(';');
        if (semi != std::string::npos) result.push_back(text.substr(0, semi));
    }
    return result;
}

// Everything make and unmake must restore.
struct Snapshot {
    PieceCode mailbox[64];
    Bitboard pieceBB[13];
    Bitboard white, black;
    u8 side;
    PositionState* current;
    PositionState record;
};

Snapshot Take() {
    Snapshot s;
    std::memcpy(s.mailbox, Board.Mailbox, sizeof s.mailbox);
    std::memcpy(s.pieceBB, Board.PieceBB, sizeof s.pieceBB);
    s.white = Board.WhitePieces;
    s.black = Board.BlackPieces;
    s.side = Board.SideToMove;
    s.current = Board.CurrentState;
    s.record = *Board.CurrentState;
    return s;
}

// Empty when the Board matches the snapshot, else what differs.
std::string Differences(const Snapshot& s) {
    std::string d;
    if (std::memcmp(s.mailbox, Board.Mailbox, sizeof s.mailbox)) d += " Mailbox";
    if (std::memcmp(s.pieceBB, Board.PieceBB, sizeof s.pieceBB)) d += " PieceBB";
    if (s.white != Board.WhitePieces || s.black != Board.BlackPieces) d += " colour-sets";
    if (s.side != Board.SideToMove) d += " SideToMove";
    if (s.current != Board.CurrentState) {
        d += " CurrentState";
        return d;
    }
    const PositionState& r = *Board.CurrentState;
    if (r.CastleRights != s.record.CastleRights || r.EpSquare != s.record.EpSquare || r.InCheck != s.record.InCheck ||
        r.HashKey != s.record.HashKey || r.Reversible != s.record.Reversible)
        d += " record";
    return d;
}

std::string PlacementProblem() {
    Bitboard fromMailbox[13] = {}, white = 0, black = 0;
    for (int s = 0; s < 64; ++s) {
        int c = Board.Mailbox[s];
        if (c > 12) return "bad code on " + std::to_string(s);
        if (!c) continue;
        fromMailbox[c] |= Bit(s);
        (c <= 6 ? white : black) |= Bit(s);
    }
    for (int c = 1; c <= 12; ++c)
        if (fromMailbox[c] != Board.PieceBB[c]) return "PieceBB[" + std::to_string(c) + "] disagrees with Mailbox";
    if (white != Board.WhitePieces || black != Board.BlackPieces) return "colour sets";
    if (PopCount(Board.PieceBB[WhiteKing]) != 1 || PopCount(Board.PieceBB[BlackKing]) != 1) return "kings";
    return "";
}

// Independent count of the pseudo-legal moves of the side to move.
Bitboard Walk(int s, Bitboard occ, const int (*dirs)[2]) {
    Bitboard result = 0;
    for (int d = 0; d < 4; ++d) {
        int f = s % 8 + dirs[d][0], r = s / 8 + dirs[d][1];
        for (; f >= 0 && f < 8 && r >= 0 && r < 8; f += dirs[d][0], r += dirs[d][1]) {
            result |= Bit(r * 8 + f);
            if (occ & Bit(r * 8 + f)) break;
        }
    }
    return result;
}
const int Diagonals[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
const int Lines[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};

int PseudoLegalCount() {
    const bool white = Board.SideToMove == White;
    const Bitboard own = white ? Board.WhitePieces : Board.BlackPieces;
    const Bitboard enemy = white ? Board.BlackPieces : Board.WhitePieces;
    const Bitboard occ = own | enemy;
    const int ep = Board.CurrentState->EpSquare;
    int n = 0;
    for (int s = 0; s < 64; ++s) {
        if (!(own & Bit(s))) continue;
        int type = TypeOf(Board.Mailbox[s]);
        if (type == 1) {
            int fwd = white ? -8 : 8, t = s + fwd;
            int mult = (white ? t < 8 : t >= 56) ? 4 : 1;
            if (!(occ & Bit(t))) {
                n += mult;
                if (s / 8 == (white ? 6 : 1) && !(occ & Bit(t + fwd))) ++n;
            }
            for (int df : {-1, 1}) {
                int f = s % 8 + df;
                if (f < 0 || f > 7) continue;
                if (enemy & Bit(t + df)) n += mult;
                else if (ep && t + df == ep) ++n;
            }
            continue;
        }
        Bitboard a = 0;
        if (type == 3 || type == 5) a |= Walk(s, occ, Diagonals);
        if (type == 4 || type == 5) a |= Walk(s, occ, Lines);
        if (type == 2 || type == 6) {
            for (int i = 0; i < 64; ++i) {
                int df = std::abs(i % 8 - s % 8), dr = std::abs(i / 8 - s / 8);
                if (type == 2 ? (df * dr == 2) : (std::max(df, dr) == 1)) a |= Bit(i);
            }
        }
        n += PopCount(a & ~own);
    }
    if (!Board.CurrentState->InCheck) {
        int base = white ? 56 : 0;
        u8 rights = Board.CurrentState->CastleRights;
        auto attacked = [white](int s) { return white ? AttackedByBlack(s) : AttackedByWhite(s); };
        auto empty = [occ](int s) { return !(occ & Bit(s)); };
        if ((rights & (white ? 2 : 8)) && empty(base + 5) && empty(base + 6) && !attacked(base + 5) && !attacked(base + 6))
            ++n;
        if ((rights & (white ? 1 : 4)) && empty(base + 1) && empty(base + 2) && empty(base + 3) && !attacked(base + 2) &&
            !attacked(base + 3))
            ++n;
    }
    return n;
}

// Where a move belongs in the generation order: the step, then the order inside the step.
struct OrderKey {
    int step, first, second, promo;
    bool operator<(const OrderKey& o) const {
        if (step != o.step) return step < o.step;
        if (first != o.first) return first < o.first;
        if (second != o.second) return second < o.second;
        return promo < o.promo;
    }
};

int PromotionRank(int kind) {
    switch (kind) {
        case WhiteQueen: case BlackQueen: return 0;
        case WhiteRook: case BlackRook: return 1;
        case WhiteKnight: case BlackKnight: return 2;
        default: return 3;
    }
}

OrderKey OrderOf(Move m) {
    if (m.kind == KindEnPassant) return {1, m.from, 0, 0};
    if (m.kind == KindCastling) return {10, m.to > m.from ? 0 : 1, 0, 0};
    int type = TypeOf(Board.Mailbox[m.from]);
    if (type == 1) {
        int promo = (m.kind & 15) ? PromotionRank(m.kind) : 0;
        if (m.kind == KindDoublePush) return {4, m.to, 0, 0};
        if (m.captured) {
            int d = m.to - m.from;
            return {d == -7 || d == 7 ? 2 : 3, m.to, 0, promo};
        }
        return {5, m.to, 0, promo};
    }
    return {type == 6 ? 11 : type + 4, m.from, m.to, 0};
}

// Checks the words a generator produced against the board they were generated on.
std::string MoveProblem(Move m) {
    const bool white = Board.SideToMove == White;
    const int pc = Board.Mailbox[m.from];
    if (!pc || (pc <= 6) != white) return "no own piece on from";
    if (m.from == m.to) return "from == to";
    int target = Board.Mailbox[m.to];
    if (target && (target <= 6) == white) return "lands on own piece";
    if (m.kind == KindEnPassant) {
        if (TypeOf(pc) != 1 || m.to != Board.CurrentState->EpSquare || target) return "bad en passant";
        if (m.captured != (white ? BlackPawn : WhitePawn)) return "en passant captured code";
        return "";
    }
    if (m.captured != target) return "captured differs from the target square";
    if (target && TypeOf(target) == 6) return "captures a king";
    bool lastRank = white ? m.to < 8 : m.to >= 56;
    if (TypeOf(pc) == 1 && lastRank != ((m.kind & 15) != 0)) return "promotion kind wrong";
    if ((m.kind & 15) && (m.kind <= 6) != white) return "promotion piece of the wrong colour";
    if (m.kind == KindDoublePush && (TypeOf(pc) != 1 || m.from / 8 != (white ? 6 : 1))) return "bad double push";
    if (m.kind == KindCastling && (TypeOf(pc) != 6 || m.captured)) return "bad castling";
    return "";
}

class MovesTest : public ::testing::Test {
protected:
    void SetUp() override { InitOnce(); }
    static void Set(const std::string& fen) { ASSERT_TRUE(SetBoard(fen.c_str())) << fen << ": " << SetBoardError; }
    static Move Parse(const char* text) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        return TextToMove(text);
    }
    static void Play(const char* text) {
        Move m = Parse(text);
        ASSERT_NE(m, NullMove) << text;
        ASSERT_TRUE(MakeMove(m)) << text;
    }
    static void Flip() {
        FlipColours();
        ComputeHashKey();
        Board.CurrentState->InCheck = SideToMoveInCheck();
    }
};

// ---------------------------------------------------------------------------------------------------
// Generation order and content

TEST_F(MovesTest, StartPositionListOrder) {
    Set(StartFen);
    std::vector<Move> moves = Generated();
    EXPECT_EQ(Texts(moves), Split("a2a4 b2b4 c2c4 d2d4 e2e4 f2f4 g2g4 h2h4 a2a3 b2b3 c2c3 d2d3 e2e3 f2f3 g2g3 h2h3 "
                                  "b1a3 b1c3 g1f3 g1h3"));
    ASSERT_EQ(moves.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(moves[i].kind, i < 8 ? KindDoublePush : 0) << i;
        EXPECT_EQ(moves[i].captured, 0) << i;
    }
    Play("e2e4");
    EXPECT_EQ(Texts(Generated()), Split("a7a5 b7b5 c7c5 d7d5 e7e5 f7f5 g7g5 h7h5 a7a6 b7b6 c7c6 d7d6 e7e6 f7f6 g7g6 "
                                        "h7h6 b8a6 b8c6 g8f6 g8h6"));
}

TEST_F(MovesTest, PawnCaptureDirectionsComeInTheirOrder) {
    Set("4k3/8/8/p1p1p3/1P1P4/8/8/4K3 w - -");
    EXPECT_EQ(Texts(Generated()), Split("b4c5 d4e5 b4a5 d4c5 b4b5 d4d5 e1d2 e1e2 e1f2 e1d1 e1f1"));
    Set("4k3/8/8/1p1p4/P1P1P3/8/8/4K3 b - -");
    EXPECT_EQ(Texts(Generated()), Split("b5a4 d5c4 b5c4 d5e4 b5b4 d5d4 e8d8 e8f8 e8d7 e8e7 e8f7"));
}

TEST_F(MovesTest, PromotionsComeQueenRookKnightBishopWithTheCapturedCode) {
    Set("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
    std::vector<Move> moves = Generated();
    EXPECT_EQ(Texts(moves), Split("b7c8q b7c8r b7c8n b7c8b b7a8q b7a8r b7a8n b7a8b b7b8q b7b8r b7b8n b7b8b "
                                  "e1d2 e1e2 e1f2 e1d1 e1f1"));
    ASSERT_GE(moves.size(), 12u);
    const int whiteKinds[4] = {5, 4, 2, 3};
    const int whiteCaptured[3] = {BlackKnight, BlackRook, 0};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(moves[i].kind, whiteKinds[i % 4]) << i;
        EXPECT_EQ(moves[i].captured, whiteCaptured[i / 4]) << i;
    }

    Set("4k3/8/8/8/8/8/1p6/R1N1K3 b - -");
    moves = Generated();
    EXPECT_EQ(Texts(moves), Split("b2a1q b2a1r b2a1n b2a1b b2c1q b2c1r b2c1n b2c1b b2b1q b2b1r b2b1n b2b1b "
                                  "e8d8 e8f8 e8d7 e8e7 e8f7"));
    ASSERT_GE(moves.size(), 12u);
    const int blackKinds[4] = {11, 10, 8, 9};
    const int blackCaptured[3] = {WhiteRook, WhiteKnight, 0};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(moves[i].kind, blackKinds[i % 4]) << i;
        EXPECT_EQ(moves[i].captured, blackCaptured[i / 4]) << i;
    }
}

TEST_F(MovesTest, EnPassantCapturesComeFirstLowerOriginFirst) {
    Set("4k3/8/8/2PpP3/8/8/8/4K3 w - d6");
    std::vector<Move> moves = Generated();
    ASSERT_GE(moves.size(), 2u);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{26, 19, KindEnPassant, BlackPawn}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{28, 19, KindEnPassant, BlackPawn}));
    std::vector<Move> tactical = Tactical();
    ASSERT_EQ(tactical.size(), 2u);
    EXPECT_EQ(tactical[0], moves[0]);
    EXPECT_EQ(tactical[1], moves[1]);

    Set("4k3/8/8/8/2pPp3/8/8/4K3 b - d3");
    moves = Generated();
    ASSERT_GE(moves.size(), 2u);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{34, 43, KindEnPassant, WhitePawn}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{36, 43, KindEnPassant, WhitePawn}));
    // Without the en-passant square there is no such capture.
    Set("4k3/8/8/8/2pPp3/8/8/4K3 b - -");
    for (Move m : Generated()) EXPECT_NE(m.kind, KindEnPassant) << Text(m);
}

TEST_F(MovesTest, CastlingConditions) {
    struct Case {
        const char* fen;  // White to move; the flipped twin is checked for Black
        bool kingSide, queenSide;
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", true, true},
        {"r3k2r/8/8/8/8/n7/8/R3K2R w KQkq -", true, true},     // b1 attacked: queen side still allowed
        {"r3k2r/8/8/8/8/8/8/RN2K2R w KQkq -", true, false},    // b1 occupied
        {"r3k2r/8/8/8/8/1n6/8/R3K2R w KQkq -", true, false},   // c1 attacked
        {"r3k2r/8/8/8/8/2n5/8/R3K2R w KQkq -", true, false},   // d1 attacked
        {"r3k2r/8/8/8/8/6n1/8/R3K2R w KQkq -", false, true},   // f1 attacked
        {"r3k2r/8/8/8/8/7n/8/R3K2R w KQkq -", false, true},    // g1 attacked
        {"r3k2r/8/8/8/8/8/8/R2QK2R w KQkq -", true, false},    // d1 occupied
        {"r3k2r/8/8/8/8/8/8/R1B1K2R w KQkq -", true, false},   // c1 occupied
        {"r3k2r/8/8/8/8/8/8/R3KB1R w KQkq -", false, true},    // f1 occupied
        {"r3k2r/8/8/8/8/8/8/R3K1NR w KQkq -", false, true},    // g1 occupied
        {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq -", false, true},      // right missing
        {"r3k2r/8/8/8/8/8/8/R3K2R w Kkq -", true, false},
        {"r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq -", false, false},  // in check
        {"r3k2r/8/8/8/8/8/7r/R3K2R w KQkq -", true, true},     // h1 attacked: the rook may pass
        {"r3k2r/8/8/8/8/8/p7/R3K2R w KQkq -", true, true},     // b1 attacked by a pawn
    };
    for (const Case& c : cases) {
        for (int flip = 0; flip < 2; ++flip) {
            Set(c.fen);
            if (flip) Flip();
            SCOPED_TRACE(std::string(c.fen) + (flip ? " (flipped)" : ""));
            int home = flip ? 4 : 60;
            std::vector<Move> moves = Generated();
            std::vector<Move> castles;
            for (Move m : moves)
                if (m.kind == KindCastling) castles.push_back(m);
            std::vector<Move> want;
            if (c.kingSide) want.push_back(Move{u8(home), u8(home + 2), KindCastling, 0});
            if (c.queenSide) want.push_back(Move{u8(home), u8(home - 2), KindCastling, 0});
            EXPECT_EQ(Texts(castles), Texts(want));
            for (size_t i = 0; i < castles.size() && i < want.size(); ++i) EXPECT_EQ(castles[i], want[i]);
            // The flag alone decides: with InCheck set nothing is produced.
            Board.CurrentState->InCheck = 1;
            MoveList list;
            ClearMoveList(list);
            GenerateMoves(list);
            for (Move m : Moves(list)) EXPECT_NE(m.kind, KindCastling) << Text(m);
        }
    }
}

TEST_F(MovesTest, PseudoLegalMovesAreListedAndMakeRejectsThem) {
    Set("3rk3/4r3/8/8/8/8/4N3/4K3 w - -");
    std::vector<std::string> texts = Texts(Generated());
    for (const char* t : {"e2c3", "e2g3", "e2c1", "e2d4", "e1d1", "e1d2"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), t), texts.end()) << t;
    u64 nodes = NodeCount;
    Snapshot before = Take();
    for (const char* t : {"e2c3", "e1d1", "e1d2"}) {
        Move m = Parse(t);
        ASSERT_NE(m, NullMove) << t;
        before = Take();
        EXPECT_FALSE(MakeWhiteMove(m)) << t;
        EXPECT_EQ(Differences(before), "") << t;
        EXPECT_EQ(NodeCount, nodes) << t;
    }
    EXPECT_TRUE(MakeWhiteMove(Parse("e1f2")));
    EXPECT_EQ(NodeCount, nodes + 1);
}

TEST_F(MovesTest, GeneratorsLeaveOrderKeysAndTheConsumerCursorAlone) {
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    Board.CurrentState->InCheck = 0;
    MoveList list;
    for (int tactical = 0; tactical < 2; ++tactical) {
        for (MoveSlot& s : list.slots) s.orderKey = 0xBEEF;
        ClearMoveList(list);
        list.next = list.slots + 3;
        if (tactical)
            GenerateTactical(list);
        else
            GenerateMoves(list);
        EXPECT_EQ(MoveCount(list), tactical ? int(Tactical().size()) : PseudoLegalCount());
        EXPECT_GT(MoveCount(list), 0);
        EXPECT_EQ(list.next, list.slots + 3);
        for (const MoveSlot& s : list.slots) ASSERT_EQ(s.orderKey, 0xBEEF);
    }
}

TEST_F(MovesTest, GeneratedListsAreCompleteValidAndInOrder) {
    std::vector<std::string> fens = PerftFens();
    ASSERT_EQ(fens.size(), 60u);
    fens.push_back(StartFen);
    fens.push_back("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    fens.push_back("8/PPP4k/8/8/8/8/4Kppp/8 w - -");
    fens.push_back("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -");
    fens.push_back("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
    for (const std::string& fen : fens) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(fen + (flip ? " (flipped)" : ""));
            std::vector<Move> moves = Generated();
            EXPECT_EQ(int(moves.size()), PseudoLegalCount());
            for (size_t i = 0; i < moves.size(); ++i) {
                EXPECT_EQ(MoveProblem(moves[i]), "") << Text(moves[i]);
                if (i) {
                    EXPECT_TRUE(OrderOf(moves[i - 1]) < OrderOf(moves[i])) << Text(moves[i - 1]) << " then " << Text(moves[i]);
                }
            }
            Flip();
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Tactical generation

TEST_F(MovesTest, TacticalListIsTheCapturesAndQueenPromotionsOfTheFullList) {
    std::vector<std::string> fens = PerftFens();
    fens.push_back("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    fens.push_back("8/PPP4k/8/8/8/8/4Kppp/8 w - -");
    fens.push_back("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
    fens.push_back("2n1k3/1P6/8/8/8/8/8/4K3 w - -");
    for (const std::string& fen : fens) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(fen + (flip ? " (flipped)" : ""));
            std::vector<u32> want;
            for (Move m : Generated())
                if ((m.captured && !(m.kind & 15)) || m.kind == WhiteQueen || m.kind == BlackQueen)
                    want.push_back(MoveWord(m));
            // InCheck has no influence on the tactical list.
            for (int inCheck = 0; inCheck < 2; ++inCheck) {
                Board.CurrentState->InCheck = u8(inCheck);
                std::vector<Move> got = Tactical();
                std::vector<u32> words;
                // En passant first, then pawn captures, then quiet queen promotions, then the pieces.
                bool otherSeen = false, quietSeen = false, pieceSeen = false;
                for (Move m : got) {
                    words.push_back(MoveWord(m));
                    bool pawn = TypeOf(Board.Mailbox[m.from]) == 1;
                    if (m.kind == KindEnPassant) {
                        EXPECT_FALSE(otherSeen) << Text(m);
                        continue;
                    }
                    otherSeen = true;
                    if (!pawn) pieceSeen = true;
                    if (pawn && !m.captured) {
                        EXPECT_FALSE(pieceSeen) << Text(m);
                        quietSeen = true;
                    }
                    if (pawn && m.captured) {
                        EXPECT_FALSE(quietSeen || pieceSeen) << Text(m);
                    }
                }
                std::sort(words.begin(), words.end());
                std::vector<u32> sortedWant = want;
                std::sort(sortedWant.begin(), sortedWant.end());
                EXPECT_EQ(words, sortedWant);
            }
            Board.CurrentState->InCheck = SideToMoveInCheck();
            Flip();
        }
    }
}

TEST_F(MovesTest, TacticalExamples) {
    Set("4k3/8/8/8/8/8/4P3/4K3 w - -");
    EXPECT_TRUE(Tactical().empty());
    Set("4k3/4p3/8/8/8/8/8/4K3 b - -");
    EXPECT_TRUE(Tactical().empty());

    Set("r3k3/1P6/8/8/8/8/8/4K3 w - -");
    std::vector<Move> moves = Tactical();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{9, 0, WhiteQueen, BlackRook}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{9, 1, WhiteQueen, 0}));
    Flip();
    moves = Tactical();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(MoveWord(moves[0]), MoveWord(Move{49, 56, BlackQueen, WhiteRook}));
    EXPECT_EQ(MoveWord(moves[1]), MoveWord(Move{49, 57, BlackQueen, 0}));

    // No castling, whatever InCheck says.
    Set("r3k2r/p6p/8/8/8/8/P6P/R3K2R w KQkq -");
    Board.CurrentState->InCheck = 0;
    EXPECT_TRUE(Tactical().empty());
    std::vector<Move> all = Generated();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](Move m) { return m.kind == KindCastling; }), 2);

    // The king may take a defended piece; make refuses it.
    Set("4k3/8/8/8/8/1n6/3p4/4K3 w - -");
    moves = Tactical();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(Text(moves[0]), "e1d2");
    EXPECT_EQ(moves[0].captured, BlackPawn);
    EXPECT_FALSE(MakeWhiteMove(moves[0]));
}

// ---------------------------------------------------------------------------------------------------
// Move list capacity

struct GuardedList {
    MoveList list;
    unsigned char guard[1024];
};

TEST_F(MovesTest, MoveListNeverOverflows) {
    const char* crowded[] = {
        "Q3Q1bk/2Q2Qpp/Q6Q/1Q4Q1/3Q4/Q4Q1Q/2Q4Q/K3Q3 w - -",
        "1Q3Qbk/3Q2pp/Q4Q2/Q1Q4Q/4Q3/1Q4Q1/Q6Q/K1Q2Q2 w - -",
        "R6R/3Q4/1Q4Q1/4Q3/2Q4Q/Q4Q2/pp1Q4/kBNN1KB1 w - -",
        "q1r1q1bk/1q3qpp/Q1Q1Q1Q1/8/1Q1Q1Q1Q/R7/1q1q1q2/K1R5 w - -",
        "q1r1q1bk/1q3qpp/Q1Q1Q1Q1/1r6/1Q1Q1Q1Q/R7/1q1q1q2/K1R5 w - -",
        "QQQQQQQQ/QQQQQQQ1/8/8/8/8/6pp/K5bk w - -",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    };
    auto g = std::make_unique<GuardedList>();
    for (const char* fen : crowded) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(std::string(fen) + (flip ? " (flipped)" : ""));
            int expected = PseudoLegalCount();
            for (int tactical = 0; tactical < 2; ++tactical) {
                std::memset(g->guard, 0xA5, sizeof g->guard);
                ClearMoveList(g->list);
                MoveSlot* const marker = g->list.slots + 11;
                g->list.next = marker;
                Board.CurrentState->InCheck = SideToMoveInCheck();
                if (tactical)
                    GenerateTactical(g->list);
                else
                    GenerateMoves(g->list);
                ASSERT_GE(g->list.end, g->list.slots);
                ASSERT_LE(MoveCount(g->list), MaxMoves);
                EXPECT_EQ(g->list.next, marker);
                for (unsigned char c : g->guard) ASSERT_EQ(c, 0xA5);
                if (!tactical) {
                    EXPECT_EQ(MoveCount(g->list), std::min(expected, MaxMoves));
                }
            }

            // Appending behind moves already in the list stops at the last slot.
            std::vector<Move> full = Generated();
            for (int start : {0, 100, 200, 250, 255, 256}) {
                std::memset(g->guard, 0xA5, sizeof g->guard);
                ClearMoveList(g->list);
                g->list.end = g->list.slots + start;
                GenerateMoves(g->list);
                ASSERT_EQ(MoveCount(g->list), std::min<int>(start + int(full.size()), MaxMoves)) << start;
                for (int i = start; i < MoveCount(g->list); ++i) ASSERT_EQ(g->list.slots[i].move, full[i - start]) << i;
                for (unsigned char c : g->guard) ASSERT_EQ(c, 0xA5);
                EXPECT_EQ(g->list.next, g->list.slots);
            }
            Flip();
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Make and unmake

// Walks the tree checking every make and unmake; returns the number of legal leaves.
u64 CheckedWalk(int depth, std::string& failure) {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    u64 leaves = 0;
    for (MoveSlot* slot = list.slots; slot < list.end && failure.empty(); ++slot) {
        const Move m = slot->move;
        const bool white = Board.SideToMove == White;
        const Snapshot before = Take();
        const u64 nodes = NodeCount;
        const int moving = Board.Mailbox[m.from];
        auto fail = [&](const std::string& what) { failure = Text(m) + ": " + what; };
        bool legal = white ? MakeWhiteMove(m) : MakeBlackMove(m);
        if (!legal) {
            std::string d = Differences(before);
            if (!d.empty()) fail("rejected move changed" + d);
            if (NodeCount != nodes) fail("rejected move counted");
            continue;
        }
        const PositionState& st = *Board.CurrentState;
        if (Board.CurrentState != before.current + 1) fail("CurrentState not advanced by one");
        if (Board.SideToMove != (white ? 0 : 1)) fail("side not switched");
        if (NodeCount != nodes + 1) fail("NodeCount");
        if (st.HashKey != FullHashKey()) fail("incremental key differs from a full recomputation");
        std::string p = PlacementProblem();
        if (!p.empty()) fail("placement: " + p);
        if (st.CastleRights != (before.record.CastleRights & CastleMask[m.from] & CastleMask[m.to])) fail("castle rights");
        int ep = m.kind == KindDoublePush ? (m.from + m.to) / 2 : 0;
        if (st.EpSquare != ep) fail("en-passant square");
        bool reversible = !m.captured && !m.kind && TypeOf(moving) != 1;
        if (st.Reversible != reversible) fail("Reversible");
        int king = LowestSquare(Board.PieceBB[white ? WhiteKing : BlackKing]);
        if (white ? AttackedByBlack(king) : AttackedByWhite(king)) fail("own king left attacked");
        if (Board.Mailbox[m.from]) fail("from square not empty");
        if (Board.Mailbox[m.to] != ((m.kind & 15) ? m.kind : moving)) fail("wrong piece on to");
        if (failure.empty()) leaves += depth > 1 ? CheckedWalk(depth - 1, failure) : 1;
        if (white)
            UnmakeWhiteMove(m);
        else
            UnmakeBlackMove(m);
        std::string d = Differences(before);
        if (!d.empty() && failure.empty()) fail("unmake did not restore" + d);
    }
    return leaves;
}

TEST_F(MovesTest, MakeUnmakeKeepKeysAndRestoreEverythingOnEveryPerftTree) {
    std::ifstream in(VORNA_TESTDATA "/perft.epd");
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        size_t semi = line.find(';');
        if (semi == std::string::npos) continue;
        ++n;
        std::string fen = line.substr(0, semi);
        // The expected depth-2 count rides along as a check that the walk saw the whole tree.
        size_t d2 = line.find(";D2 "), d3 = line.find(";D3 ");
        ASSERT_NE(d2, std::string::npos);
        ASSERT_NE(d3, std::string::npos);
        u64 want2 = std::stoull(line.substr(d2 + 4)), want3 = std::stoull(line.substr(d3 + 4));
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE("line " + std::to_string(n) + ": " + fen + (flip ? " (flipped)" : ""));
            std::string failure;
            u64 leaves = CheckedWalk(flip ? 2 : 3, failure);
            EXPECT_EQ(failure, "");
            EXPECT_EQ(leaves, flip ? want2 : want3);
            Flip();
        }
    }
    EXPECT_EQ(n, 60);
}

// Walks the tree comparing, move by move, the make that knows the check state of the position (its
// checkers and pins, stored by StoreCheckState) with the plain make and its full attack test.
void CompareShortLegality(int depth, std::string& failure) {
    StoreCheckState();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    for (MoveSlot* slot = list.slots; slot < list.end && failure.empty(); ++slot) {
        const Move m = slot->move;
        const bool plain = MakeMove(m);
        if (plain) {
            const u64 key = Board.CurrentState->HashKey;
            UnmakeMove(m);
            if (!MakeMoveKnownCheck(m)) {
                failure = Text(m) + ": refused by the short test only";
                return;
            }
            if (Board.CurrentState->HashKey != key) failure = Text(m) + ": the two makes keep different keys";
            if (depth > 1 && failure.empty()) CompareShortLegality(depth - 1, failure);
            UnmakeMove(m);
            // the children's StoreCheckState wrote their own records; this one's is still in place
        } else if (MakeMoveKnownCheck(m)) {
            failure = Text(m) + ": played by the short test only";
            UnmakeMove(m);
        }
    }
}

TEST_F(MovesTest, TheShortLegalityTestAgreesWithTheFullOne) {
    std::vector<std::string> fens = PerftFens();
    ASSERT_EQ(fens.size(), 60u);
    fens.insert(fens.end(), {
        "4k3/8/8/8/8/5n2/8/r3K2R w K -",          // double check: only the king may move
        "4k3/8/8/8/1b6/8/3R4/r3K3 w - -",         // a pinned rook could block the check
        "8/8/8/8/k2pP2R/8/8/4K3 b - e3",          // en passant that opens the rank to the king
        "8/8/8/2k5/3Pp3/8/8/4K3 b - d3",          // en passant takes the checking pawn
        "4k3/4r3/8/8/8/8/4B3/4K3 w - -",          // a pinned bishop cannot move at all
        "4k3/8/8/8/8/8/3q4/4K3 w - -",            // the checker next to the king, taken only by it
        "3rk3/8/8/8/7b/8/5N2/4K3 w - -",          // a knight pinned on the diagonal
    });
    for (const std::string& fen : fens) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(fen + (flip ? " (flipped)" : ""));
            std::string failure;
            CompareShortLegality(3, failure);
            EXPECT_EQ(failure, "");
            Flip();
        }
    }
}

// The last perft ply makes each move as the generator produces it, from a copy of the piece arrays and
// with the moving piece the generator knows (the 32-bit program's loop from the sets of the mover's
// colour it keeps, counting the leaves itself). It has to see the list's moves in the list's order, make each
// into the very position the plain make gives (or refuse it with it), and unmake back to the board it
// started from.
template <int Us, class Context>
struct LeafComparer {
    const Context& context;
    const MoveList& list;
    int index;
    std::string failure;
    void operator()(u32 word, PieceCode mover) {
        if (!failure.empty()) return;
        Move m;
        std::memcpy(&m, &word, sizeof m);
        if (index >= MoveCount(list) || list.slots[index].move != m) {
            failure = Text(m) + ": not the list's move " + std::to_string(index);
            return;
        }
        ++index;
        if (mover && mover != Board.Mailbox[m.from]) failure = Text(m) + ": wrong piece handed over";
        const Snapshot start = Take();
        const u64 nodes = NodeCount;
        const bool plain = Us == White ? MakeWhiteMove(m) : MakeBlackMove(m);
        const Snapshot made = Take();
        if (plain) Us == White ? UnmakeWhiteMove(m) : UnmakeBlackMove(m);
        // what the leaf make leaves unwritten keeps this scribble and shows up below
        PositionState& child = Board.CurrentState[1];
        child.CastleRights = child.EpSquare = child.Reversible = 0xEE;
        child.HashKey = ~made.record.HashKey;
        if (MakeWith<Us, true>(context, m, mover) != plain) {
            failure = Text(m) + (plain ? ": refused" : ": played") + " by the leaf make only";
            if (!plain) UnmakeWith<Us>(context, m, mover);
            return;
        }
        std::string d = Differences(made);
        if (!d.empty()) failure = Text(m) + ": the leaf make differs in" + d;
        if (plain) {
            if (NodeCount != nodes + (Context::CountsNodes ? 2 : 1)) failure = Text(m) + ": NodeCount";
            UnmakeWith<Us>(context, m, mover);
        }
        d = Differences(start);
        if (!d.empty() && failure.empty()) failure = Text(m) + ": the leaf unmake did not restore" + d;
    }
};

template <int Us, class Context>
std::string CompareLeafMakesWith(const Context& context, const MoveList& list) {
    LeafComparer<Us, Context> comparer{context, list, 0, ""};
    movegen::Generate<Us, false>(comparer);
    if (comparer.failure.empty() && comparer.index != MoveCount(list)) return "the generator stopped short";
    return comparer.failure;
}

template <int Us>
std::string CompareLeafMakes() {
    StoreCheckState();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    std::string failure = CompareLeafMakesWith<Us>(CopiedContextOf<Us>(), list);
    LeafContext leafContext;
    FillLeafContext<Us>(leafContext);
    if (failure.empty()) failure = CompareLeafMakesWith<Us>(leafContext, list);
    return failure;
}

// Runs the comparison at every node of the tree down to depth.
std::string CompareLeafMakesInTree(int depth) {
    std::string failure = Board.SideToMove == White ? CompareLeafMakes<White>() : CompareLeafMakes<Black>();
    if (depth <= 1 || !failure.empty()) return failure;
    StoreCheckState();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    for (MoveSlot* slot = list.slots; slot < list.end && failure.empty(); ++slot) {
        if (!MakeMove(slot->move)) continue;
        failure = CompareLeafMakesInTree(depth - 1);
        UnmakeMove(slot->move);
    }
    return failure;
}

TEST_F(MovesTest, TheLastPerftPlyMakesWhatThePlainMakeMakes) {
    std::vector<std::string> fens = PerftFens();
    ASSERT_EQ(fens.size(), 60u);
    fens.insert(fens.end(), {
        "4k3/8/8/8/8/5n2/8/r3K2R w K -",  // double check: only the king may move
        "8/8/8/8/k2pP2R/8/8/4K3 b - e3",  // en passant that opens the rank to the king
        "3rk3/8/8/8/7b/8/5N2/4K3 w - -",  // a knight pinned on the diagonal
    });
    for (const std::string& fen : fens) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(fen + (flip ? " (flipped)" : ""));
            EXPECT_EQ(CompareLeafMakesInTree(2), "");
            Flip();
        }
    }
}

TEST_F(MovesTest, DoublePushSetsTheEnPassantSquareAndItsKey) {
    Set(StartFen);
    Play("e2e4");
    EXPECT_EQ(Board.CurrentState->EpSquare, Sq("e3"));
    EXPECT_EQ(Board.CurrentState->Reversible, 0);
    u64 key = Board.CurrentState->HashKey;
    Set("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3");
    EXPECT_EQ(key, Board.CurrentState->HashKey);
    Set("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -");
    EXPECT_EQ(key ^ Board.CurrentState->HashKey, EpKeys[Sq("e3")]);

    // The next move clears it again.
    Set(StartFen);
    Play("e2e4");
    Play("g8f6");
    EXPECT_EQ(Board.CurrentState->EpSquare, 0);
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    Play("d2d4");
    Play("c7c5");
    EXPECT_EQ(Board.CurrentState->EpSquare, Sq("c6"));
}

TEST_F(MovesTest, CastlingMovesTheRookAndDropsRights) {
    struct Case {
        const char* fen;
        const char* move;
        const char* rookFrom;
        const char* rookTo;
        int rights;
        const char* after;  // the same position written out
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1g1", "h1", "f1", 12, "r3k2r/8/8/8/8/8/8/R4RK1 b kq -"},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1c1", "a1", "d1", 12, "r3k2r/8/8/8/8/8/8/2KR3R b kq -"},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "e8g8", "h8", "f8", 3, "r4rk1/8/8/8/8/8/8/R3K2R w KQ -"},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "e8c8", "a8", "d8", 3, "2kr3r/8/8/8/8/8/8/R3K2R w KQ -"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Set(c.fen);
        Snapshot before = Take();
        Move m = Parse(c.move);
        ASSERT_EQ(m.kind, KindCastling);
        ASSERT_TRUE(MakeMove(m));
        bool white = Board.SideToMove == Black;
        EXPECT_EQ(Board.Mailbox[Sq(c.rookFrom)], 0);
        EXPECT_EQ(Board.Mailbox[Sq(c.rookTo)], white ? WhiteRook : BlackRook);
        EXPECT_EQ(Board.CurrentState->CastleRights, c.rights);
        EXPECT_EQ(Board.CurrentState->Reversible, 0);
        EXPECT_EQ(PlacementProblem(), "");
        u64 key = Board.CurrentState->HashKey;
        UnmakeMove(m);
        EXPECT_EQ(Differences(before), "");
        Set(c.after);
        EXPECT_EQ(Board.CurrentState->HashKey, key);
    }
}

TEST_F(MovesTest, RightsFollowKingAndRookMovesAndCaptures) {
    struct Case {
        const char* fen;
        const char* move;
        int rights;
    } cases[] = {
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "h1h5", 13},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "a1a5", 14},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1e2", 12},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "h1h8", 13 & 7},
        {"r3k2r/8/8/8/8/8/1B6/R3K2R w KQkq -", "b2h8", 7},      // a bishop takes on h8
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "a8a1", 14 & 11},  // a rook takes on a1
        {"r3k2r/8/8/8/8/1n6/8/R3K2R b KQkq -", "b3a1", 14},     // a knight takes on a1
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "e8d8", 3},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq -", "h8g8", 7},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "e1f1", 12},
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQ -", "a1a8", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Set(c.fen);
        Move m = Parse(c.move);
        ASSERT_NE(m, NullMove);
        ASSERT_TRUE(MakeMove(m));
        EXPECT_EQ(Board.CurrentState->CastleRights, c.rights);
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    }
}

TEST_F(MovesTest, ReversibleOnlyAfterQuietPieceMoves) {
    struct Case {
        const char* fen;
        const char* move;
        int reversible;
    } cases[] = {
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "c3d5", 1},   // knight
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "d3e4", 1},   // bishop
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "h1h4", 1},   // rook
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "f2f3", 1},   // queen
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "e1d2", 1},   // king
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "b4b5", 0},   // pawn push
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "b4c5", 0},   // pawn capture
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "e1g1", 0},   // castling
        {"r3k2r/1p6/8/2p5/1P6/2NB4/5Q2/R3K2R w KQkq -", "h1h8", 0},   // rook capture
        {"r3k2r/1P6/8/8/8/8/8/4K3 w kq -", "b7b8n", 0},                // promotion
        {"r3k2r/1P6/8/8/8/8/8/4K3 w kq -", "b7a8q", 0},                // capturing promotion
        {"4k3/8/8/2Pp4/8/8/8/4K3 w - d6", "c5d6", 0},                  // en passant
        {"4k3/8/8/8/8/8/1b6/4K2R b K -", "b2e5", 1},                   // Black bishop
        {"4k3/5p2/8/8/8/8/8/4K2R b K -", "f7f5", 0},                   // Black double push
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Set(c.fen);
        Move m = Parse(c.move);
        ASSERT_NE(m, NullMove);
        ASSERT_TRUE(MakeMove(m));
        EXPECT_EQ(Board.CurrentState->Reversible, c.reversible);
    }
}

TEST_F(MovesTest, PromotionCaptureAndUnmake) {
    Set("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
    Snapshot before = Take();
    Move m = Parse("b7a8n");
    ASSERT_EQ(MoveWord(m), MoveWord(Move{9, 0, WhiteKnight, BlackRook}));
    ASSERT_TRUE(MakeWhiteMove(m));
    EXPECT_EQ(Board.Mailbox[Sq("a8")], WhiteKnight);
    EXPECT_EQ(Board.Mailbox[Sq("b7")], 0);
    EXPECT_EQ(Board.PieceBB[BlackRook], 0u);
    EXPECT_EQ(Board.PieceBB[WhitePawn], 0u);
    EXPECT_EQ(Board.PieceBB[WhiteKnight], Bit(Sq("a8")));
    EXPECT_EQ(PlacementProblem(), "");
    u64 key = Board.CurrentState->HashKey;
    UnmakeWhiteMove(m);
    EXPECT_EQ(Differences(before), "");
    EXPECT_EQ(Board.Mailbox[Sq("b7")], WhitePawn);
    EXPECT_EQ(Board.Mailbox[Sq("a8")], BlackRook);
    Set("N1n1k3/8/8/8/8/8/8/4K3 b - -");
    EXPECT_EQ(Board.CurrentState->HashKey, key);

    // Black: a quiet promotion and a capturing one.
    Set("4k3/8/8/8/8/8/3p4/2R4K b - -");
    before = Take();
    m = Parse("d2c1q");
    ASSERT_EQ(MoveWord(m), MoveWord(Move{51, 58, BlackQueen, WhiteRook}));
    ASSERT_TRUE(MakeBlackMove(m));
    EXPECT_EQ(Board.Mailbox[Sq("c1")], BlackQueen);
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    UnmakeBlackMove(m);
    EXPECT_EQ(Differences(before), "");
}

TEST_F(MovesTest, EnPassantCaptureRemovesThePawnBehind) {
    Set("4k3/8/8/2Pp4/8/8/8/4K3 w - d6");
    Snapshot before = Take();
    Move m = Parse("c5d6");
    ASSERT_EQ(m.kind, KindEnPassant);
    ASSERT_TRUE(MakeMove(m));
    EXPECT_EQ(Board.Mailbox[Sq("d5")], 0);
    EXPECT_EQ(Board.Mailbox[Sq("d6")], WhitePawn);
    EXPECT_EQ(Board.PieceBB[BlackPawn], 0u);
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    UnmakeMove(m);
    EXPECT_EQ(Differences(before), "");

    Set("4k3/8/8/8/3pP3/8/8/4K3 b - e3");
    before = Take();
    m = Parse("d4e3");
    ASSERT_EQ(m.kind, KindEnPassant);
    ASSERT_TRUE(MakeMove(m));
    EXPECT_EQ(Board.Mailbox[Sq("e4")], 0);
    EXPECT_EQ(Board.Mailbox[Sq("e3")], BlackPawn);
    EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
    UnmakeMove(m);
    EXPECT_EQ(Differences(before), "");
}

TEST_F(MovesTest, IllegalMovesChangeNothing) {
    struct Case {
        const char* fen;
        const char* move;
    } cases[] = {
        {"4k3/4r3/8/8/8/8/4N3/4K3 w - -", "e2d4"},       // pinned knight
        {"4k3/8/8/8/8/8/8/r3K3 w - -", "e1d1"},           // king stays on the attacked rank
        {"4k3/8/8/8/8/8/8/r3K3 w - -", "e1f1"},
        {"3rk3/8/8/8/8/8/8/4K3 w - -", "e1d2"},           // king steps into attack
        {"8/8/8/KPp4r/8/8/8/7k w - c6", "b5c6"},          // en passant opens the rank
        {"8/8/8/8/k2pP2R/8/8/7K b - e3", "d4e3"},         // the same for Black
        {"4k3/8/8/8/1b6/8/3P4/4K3 w - -", "d2d4"},        // pinned pawn
        {"4k3/8/8/8/8/1n6/3p4/4K3 w - -", "e1d2"},        // the king takes a defended pawn
        {"4k3/8/8/8/8/8/8/r3K2N w - -", "h1g3"},          // the check is not answered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + c.move);
        Set(c.fen);
        Move m = Parse(c.move);
        ASSERT_NE(m, NullMove);
        Snapshot before = Take();
        u64 nodes = NodeCount;
        EXPECT_FALSE(MakeMove(m));
        EXPECT_EQ(Differences(before), "");
        EXPECT_EQ(NodeCount, nodes);
    }
}

TEST_F(MovesTest, NodeCountAndSideToMoveInCheck) {
    Set(StartFen);
    u64 nodes = NodeCount;
    const char* game[] = {"e2e4", "f7f6", "d1h5"};
    for (const char* t : game) Play(t);
    EXPECT_EQ(NodeCount, nodes + 3);
    EXPECT_TRUE(SideToMoveInCheck());
    EXPECT_EQ(Board.SideToMove, 0);
    Play("g7g6");
    EXPECT_FALSE(SideToMoveInCheck());
    EXPECT_EQ(StateIndex(), 4);
    Set("4k3/8/8/8/8/8/8/r3K3 w - -");
    EXPECT_TRUE(SideToMoveInCheck());
    Set("r3k3/8/8/8/8/8/8/4K3 b - -");
    EXPECT_FALSE(SideToMoveInCheck());
    Set("4k3/8/8/8/8/8/8/4R1K1 b - -");
    EXPECT_TRUE(SideToMoveInCheck());
}

// ---------------------------------------------------------------------------------------------------
// Coordinate move text

TEST_F(MovesTest, TextToMoveInTheStartPosition) {
    Set(StartFen);
    Move m = Parse("e2e4");
    EXPECT_EQ(MoveWord(m), MoveWord(Move{52, 36, KindDoublePush, 0}));
    EXPECT_EQ(Parse("E2E4"), m);
    EXPECT_EQ(Parse("e2E4"), m);
    EXPECT_EQ(Parse("g1f3"), (Move{62, 45, 0, 0}));
    for (const char* bad : {"e2e5", "e2e4 ", " e2e4", "e2e4q", "e2e4qq", "e2e", "e2", "", "e7e5", "a8a8", "e2-e4",
                            "e2e4\n", "e1g1", "zzzz", "e2e4e2e4"})
        EXPECT_EQ(Parse(bad), NullMove) << '"' << bad << '"';
}

TEST_F(MovesTest, PromotionTexts) {
    Set("k7/4P3/8/8/8/8/8/4K3 w - -");
    struct {
        const char* text;
        int kind;
    } promos[] = {{"e7e8q", 5}, {"e7e8r", 4}, {"e7e8b", 3}, {"e7e8n", 2}, {"E7E8Q", 5}, {"e7e8N", 2}};
    for (auto& p : promos) {
        Move m = Parse(p.text);
        EXPECT_EQ(MoveWord(m), MoveWord(Move{12, 4, u8(p.kind), 0})) << p.text;
        std::string lower = p.text;
        for (char& c : lower) c = char(std::tolower(c));
        EXPECT_EQ(Text(m), lower);
    }
    EXPECT_EQ(Parse("e7e8"), NullMove);
    EXPECT_EQ(Parse("e7e8k"), NullMove);
    EXPECT_EQ(Parse("e7e8p"), NullMove);
    EXPECT_EQ(Parse("e7e8q "), NullMove);

    Set("4k3/8/8/8/8/8/3p4/K7 b - -");
    Move m = Parse("d2d1q");
    EXPECT_EQ(MoveWord(m), MoveWord(Move{51, 59, BlackQueen, 0}));
    EXPECT_EQ(Text(m), "d2d1q");
    EXPECT_EQ(Text(Move{51, 59, BlackKnight, 0}), "d2d1n");
    EXPECT_EQ(Text(Move{51, 58, BlackRook, WhiteRook}), "d2c1r");
    EXPECT_EQ(Text(Move{51, 59, BlackBishop, 0}), "d2d1b");
}

TEST_F(MovesTest, MoveTextRendering) {
    EXPECT_EQ(Text(NullMove), "a8a8");
    EXPECT_EQ(Text(Move{60, 62, KindCastling, 0}), "e1g1");
    EXPECT_EQ(Text(Move{4, 2, KindCastling, 0}), "e8c8");
    EXPECT_EQ(Text(Move{26, 19, KindEnPassant, BlackPawn}), "c5d6");
    EXPECT_EQ(Text(Move{63, 0, 0, BlackRook}), "h1a8");
    // Every generated move reads back as itself.
    for (const std::string& fen : PerftFens()) {
        Set(fen);
        for (Move m : Generated()) {
            std::string t = Text(m);
            EXPECT_EQ(Parse(t.c_str()), m) << fen << " " << t;
        }
    }
}

TEST_F(MovesTest, CastlingTextNeedsInCheckClear) {
    Set("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    Move m = Parse("e1g1");
    EXPECT_EQ(MoveWord(m), MoveWord(Move{60, 62, KindCastling, 0}));
    EXPECT_EQ(Parse("E1C1"), (Move{60, 58, KindCastling, 0}));
    Board.CurrentState->InCheck = 1;
    EXPECT_EQ(TextToMove("e1g1"), NullMove);
    EXPECT_EQ(TextToMove("e1c1"), NullMove);
    EXPECT_EQ(TextToMove("e1f1"), (Move{60, 61, 0, 0}));
}

TEST_F(MovesTest, NoMoveAtAllMatchesNothing) {
    // White's pieces are all boxed in: no pseudo-legal move exists.
    Set("KBBBBBBB/PPPPPPPP/8/8/8/8/8/4k3 w - -");
    EXPECT_TRUE(Generated().empty());
    EXPECT_TRUE(Tactical().empty());
    for (const char* t : {"a8b8", "a7a6", "b7b6", "e1e2", "a8a8", "h7h6"}) EXPECT_EQ(Parse(t), NullMove) << t;
}

}  // namespace
