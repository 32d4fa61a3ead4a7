// The search: quiescence, the alpha-beta node search with its ordering tables, repetition and the
// pass, and the iterative-deepening driver with its thinking lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "eval/evaluate.h"
#include "frontend/gameend.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

namespace {


std::string Text(Move m) {
    char buf[6];
    MoveToText(m, buf);
    return buf;
}

// The same move on the colour-flipped board.
Move Mirrored(Move m) {
    Move r = m;
    r.from = Mirror[m.from];
    r.to = Mirror[m.to];
    if (m.kind & 15) r.kind = u8(m.kind <= WhiteKing ? m.kind + 6 : m.kind - 6);
    if (m.captured) r.captured = u8(m.captured <= WhiteKing ? m.captured + 6 : m.captured - 6);
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Everything a search must leave as it found it.
struct Snapshot {
    PieceCode mailbox[64];
    Bitboard pieceBB[13];
    Bitboard white, black;
    u8 side;
    PositionState* current;
    u8 rights, ep;
    u64 key;

    static Snapshot Take() {
        Snapshot s;
        std::memcpy(s.mailbox, Board.Mailbox, sizeof s.mailbox);
        std::memcpy(s.pieceBB, Board.PieceBB, sizeof s.pieceBB);
        s.white = Board.WhitePieces;
        s.black = Board.BlackPieces;
        s.side = Board.SideToMove;
        s.current = Board.CurrentState;
        s.rights = Board.CurrentState->CastleRights;
        s.ep = Board.CurrentState->EpSquare;
        s.key = Board.CurrentState->HashKey;
        return s;
    }
    bool Same() const {
        return !std::memcmp(mailbox, Board.Mailbox, sizeof mailbox) && !std::memcmp(pieceBB, Board.PieceBB, sizeof pieceBB) &&
               white == Board.WhitePieces && black == Board.BlackPieces && side == Board.SideToMove &&
               current == Board.CurrentState && rights == current->CastleRights && ep == current->EpSquare &&
               key == current->HashKey;
    }
};

// Plain minimax over the tactical moves with stand pat: what the quiescence search must return with
// the full window. Unpruned trees grow fast in busy positions, so the walk gives up (Budget below 0)
// after a given number of made moves.
long Budget = 0;

int ReferenceQuiescence() {
    int best = Evaluate();
    MoveList list;
    ClearMoveList(list);
    GenerateTactical(list);
    for (MoveSlot* slot = list.slots; slot < list.end && Budget >= 0; ++slot) {
        if (!MakeMove(slot->move)) continue;
        --Budget;
        best = std::max(best, -ReferenceQuiescence());
        UnmakeMove(slot->move);
    }
    return best;
}

// Plain minimax of the node search's tree (check extension, mate and stalemate scores, repetition,
// quiescence at the leaves) without pruning, pass or table.
int ReferenceSearch(int depth, int ply) {
    const int cply = ply + 1;
    const bool inCheck = SideToMoveInCheck();
    Board.CurrentState->InCheck = inCheck;
    const int newDepth = inCheck ? depth : depth - 1;
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    int best = -MateValue;
    bool any = false;
    for (MoveSlot* slot = list.slots; slot < list.end && Budget >= 0; ++slot) {
        if (!MakeMove(slot->move)) continue;
        --Budget;
        any = true;
        int s = IsRepetition() ? 0 : newDepth == 0 ? -ReferenceQuiescence() : -ReferenceSearch(newDepth, cply);
        UnmakeMove(slot->move);
        best = std::max(best, s);
    }
    if (!any) return inCheck ? cply - MateValue : 0;
    return best;
}

// What a window search may return for a position whose true value is v: fail-low answers bound v from
// above, fail-high answers from below, and anything inside the window is v itself.
::testing::AssertionResult Consistent(int v, int alpha, int beta, int r) {
    bool ok = r <= alpha ? v <= r : r >= beta ? v >= r : v == r;
    if (ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "window (" << alpha << ", " << beta << ") returned " << r
                                         << " for a true value of " << v;
}

class SearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitTables();
        InitZobrist();
    }

    void SetUp() override {
        savedLimits = SearchLimits;
        savedPost = PostThinking;
        savedUci = UciMode;
        savedXboard = XboardMode;
        savedAnalyze = AnalyzeMode;
        savedIgnore = IgnoreInput;
        IgnoreInput = 1;
        PostThinking = 0;
        UciMode = XboardMode = AnalyzeMode = 0;
        Limit(0);
    }
    void TearDown() override {
        SearchLimits = savedLimits;
        PostThinking = savedPost;
        UciMode = savedUci;
        XboardMode = savedXboard;
        AnalyzeMode = savedAnalyze;
        IgnoreInput = savedIgnore;
        StopSearch = 0;
    }

    static void Limit(u8 depth) { SearchLimits = SearchLimitsData{0, 0, 0, 0, 0, depth, 0, 0, 0}; }

    static void Set(const std::string& fen) { ASSERT_TRUE(SetBoard(fen.c_str())) << fen << ": " << SetBoardError; }

    static void Flip() {
        FlipColours();
        ComputeHashKey();
        Board.CurrentState->InCheck = SideToMoveInCheck();
    }

    static void Play(const char* text) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        ASSERT_NE(MoveWord(m), MoveWord(NullMove)) << text;
        ASSERT_TRUE(MakeMove(m)) << text;
    }

    static Move Find(const char* text) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        EXPECT_NE(MoveWord(m), MoveWord(NullMove)) << text;
        return m;
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

    // Runs a search to depth with the thinking lines captured; returns them.
    static std::string SearchPrinting(u8 depth, Move* best) {
        Limit(depth);
        PostThinking = 1;
        testing::internal::CaptureStdout();
        *best = SearchBestMove();
        std::string out = testing::internal::GetCapturedStdout();
        PostThinking = 0;
        return out;
    }

    SearchLimitsData savedLimits;
    u8 savedPost, savedUci, savedXboard, savedAnalyze, savedIgnore;
};

// ---------------------------------------------------------------------------------------------------
// Quiescence

TEST_F(SearchTest, QuiescenceWinsAHangingQueen) {
    Set("4k3/8/8/3q4/8/8/8/3RK3 w - -");
    const int standPat = Evaluate();
    Move take = Find("d1d5");
    ASSERT_TRUE(MakeMove(take));
    const int afterTake = -Evaluate();  // Black has no capture back
    UnmakeMove(take);
    ASSERT_GT(afterTake, standPat + 500);
    EXPECT_EQ(Quiescence(-MateValue, MateValue), afterTake);
    Flip();
    EXPECT_EQ(Quiescence(-MateValue, MateValue), afterTake);
}

TEST_F(SearchTest, QuiescenceStandsPatAtBetaWithoutMakingAMove) {
    // Plenty of captures on the board.
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    const int standPat = Evaluate();
    for (int beta : {standPat, standPat - 1, standPat - 300}) {
        NodeCount = 0;
        Snapshot before = Snapshot::Take();
        EXPECT_EQ(Quiescence(i16(beta - 50), i16(beta)), standPat) << "beta " << beta;
        EXPECT_EQ(NodeCount, 0u) << "beta " << beta;
        EXPECT_TRUE(before.Same());
    }
    // One above: the captures are tried.
    NodeCount = 0;
    Quiescence(i16(standPat), i16(standPat + 1));
    EXPECT_GT(NodeCount, 0u);
}

TEST_F(SearchTest, QuiescenceWithoutTacticalMovesReturnsTheStaticScore) {
    // Black is a rook up; White has nothing to take or promote.
    Set("r3k3/8/8/8/8/8/4P3/4K3 w - -");
    const int standPat = Evaluate();
    ASSERT_LT(standPat, -300);
    NodeCount = 0;
    EXPECT_EQ(Quiescence(0, 100), standPat);  // below alpha, returned as it is
    EXPECT_EQ(Quiescence(-MateValue, MateValue), standPat);
    EXPECT_EQ(NodeCount, 0u);
    // A side in check is not special: mated on the back rank, it still stands pat.
    Set("R5k1/5ppp/8/8/8/8/8/6K1 b - -");
    ASSERT_TRUE(SideToMoveInCheck());
    EXPECT_EQ(Quiescence(-MateValue, MateValue), Evaluate());
}

TEST_F(SearchTest, QuiescenceResolvesAnExchange) {
    // Rxd5 exd5 loses the exchange for a pawn: standing pat is best. With the pawn on e6 gone, the
    // capture wins a pawn.
    Set("4k3/8/4p3/3p4/8/8/8/3RK3 w - -");
    const int standPat = Evaluate();
    EXPECT_EQ(Quiescence(-MateValue, MateValue), standPat);
    Set("4k3/8/8/3p4/8/8/8/3RK3 w - -");
    Move take = Find("d1d5");
    ASSERT_TRUE(MakeMove(take));
    const int won = -Evaluate();
    UnmakeMove(take);
    EXPECT_EQ(Quiescence(-MateValue, MateValue), std::max(won, int(Evaluate())));
    EXPECT_GT(won, Evaluate());
}

// Full-window quiescence equals plain minimax over captures and queen promotions; narrower windows
// give consistent bounds; the colour-flipped twin scores the same; the board is restored.
TEST_F(SearchTest, QuiescenceAgreesWithPlainMinimax) {
    int checked = 0;
    for (const std::string& fen : PerftFens()) {
        Set(fen);
        int twin = MateValue;
        for (int flip = 0; flip < 2; ++flip) {
            SCOPED_TRACE(fen + (flip ? " (flipped)" : ""));
            Budget = 20000;
            const int v = ReferenceQuiescence();
            if (Budget < 0) {
                Flip();
                continue;
            }
            if (flip && twin != MateValue) {
                EXPECT_EQ(v, twin);
            }
            twin = v;
            Snapshot before = Snapshot::Take();
            EXPECT_EQ(Quiescence(-MateValue, MateValue), v);
            EXPECT_TRUE(before.Same());
            const int e = Evaluate();
            for (int a : {v - 200, v - 30, v - 1, v, v + 1, v + 40, e - 10, e + 10}) {
                for (int width : {1, 25, 400}) {
                    int r = Quiescence(i16(a), i16(a + width));
                    EXPECT_TRUE(Consistent(v, a, a + width, r));
                    EXPECT_GE(r, e);  // fail-soft, but never below the stand pat
                }
            }
            ++checked;
            Flip();
        }
    }
    EXPECT_GE(checked, 60);
}

// Captures of the more valuable piece first; for the same victim the cheaper mover first. Seen
// through the fail-soft result of a window just above the stand pat that every capture reaches: the
// search returns the score of the first capture it tries.
TEST_F(SearchTest, QuiescenceTriesCapturesInKeyOrder) {
    // What the capture scores inside a search of the window (alpha, beta).
    auto scoreOf = [](const char* text, int alpha, int beta) {
        Move m = Find(text);
        EXPECT_TRUE(MakeMove(m));
        int s = -Quiescence(i16(-beta), i16(-alpha));
        UnmakeMove(m);
        return s;
    };
    // White: pawn c4 and queen d1 can take the queen on d5 (keys 191 and 187), the queen can also
    // take the rook on a4 (171).
    Set("6k1/8/8/3q4/r1P5/8/8/3QK3 w - -");
    int a = Evaluate(), b = a + 1;
    const int pawnTakes = scoreOf("c4d5", a, b), queenTakes = scoreOf("d1d5", a, b), rookTaken = scoreOf("d1a4", a, b);
    ASSERT_NE(pawnTakes, queenTakes);
    ASSERT_NE(pawnTakes, rookTaken);
    ASSERT_GE(std::min({pawnTakes, queenTakes, rookTaken}), b);
    EXPECT_EQ(Quiescence(i16(a), i16(b)), pawnTakes);
    Flip();
    EXPECT_EQ(Quiescence(i16(a), i16(b)), pawnTakes);

    // Black: pawn and king can both take the pawn on e3; the pawn goes first (key 25 against 20).
    Set("8/8/8/8/3p4/4P3/3k4/7K b - -");
    a = Evaluate();
    b = a + 1;
    const int byPawn = scoreOf("d4e3", a, b), byKing = scoreOf("d2e3", a, b);
    ASSERT_NE(byPawn, byKing);
    ASSERT_GE(std::min(byPawn, byKing), b);
    EXPECT_EQ(Quiescence(i16(a), i16(b)), byPawn);
}

// ---------------------------------------------------------------------------------------------------
// Move ordering tables

// Order keys of a freshly generated list of the side to move, by move text.
std::vector<std::pair<std::string, u16>> Keys(u8 cply, Move hashMove) {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    ScoreMoves(list, cply, hashMove);
    std::vector<std::pair<std::string, u16>> keys;
    for (const MoveSlot* s = list.slots; s < list.end; ++s) {
        keys.emplace_back(Text(s->move), s->orderKey);
    }
    return keys;
}

u16 KeyOf(const std::vector<std::pair<std::string, u16>>& keys, const std::string& text) {
    for (const auto& k : keys)
        if (k.first == text) return k.second;
    ADD_FAILURE() << "no move " << text;
    return 0;
}

TEST_F(SearchTest, CaptureKeysFavourBigVictimsAndCheapMovers) {
    std::memset(History, 0, sizeof History);
    Killers[3] = KillerPair{};
    Set("4k3/8/8/3q4/2P5/8/8/3QK3 w - -");
    auto keys = Keys(3, NullMove);
    EXPECT_EQ(KeyOf(keys, "c4d5"), 61183);  // pawn takes queen
    EXPECT_EQ(KeyOf(keys, "d1d5"), 61179);  // queen takes queen

    // Black: the bitwise OR puts the king before the pawn for the same victim.
    Set("8/8/8/8/3b1p2/3kP3/8/R6K b - -");
    keys = Keys(3, NullMove);
    EXPECT_EQ(KeyOf(keys, "d4a1"), 61071);  // bishop takes rook
    EXPECT_EQ(KeyOf(keys, "f4e3"), 61017);  // pawn takes pawn
    EXPECT_EQ(KeyOf(keys, "d3e3"), 61020);  // king takes pawn
    EXPECT_EQ(KeyOf(keys, "d4e3"), 61023);  // bishop takes pawn

    // Every capture key lies between the killers and the hash move.
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    for (int flip = 0; flip < 2; ++flip) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        ScoreMoves(list, 3, NullMove);
        for (const MoveSlot* s = list.slots; s < list.end; ++s) {
            if (s->move.captured) {
                EXPECT_GE(s->orderKey, 61016) << Text(s->move);
                EXPECT_LE(s->orderKey, 61199) << Text(s->move);
            } else {
                EXPECT_EQ(s->orderKey, 0) << Text(s->move);
            }
        }
        Flip();
    }
}

TEST_F(SearchTest, HashMoveKillersAndHistoryKeys) {
    std::memset(History, 0, sizeof History);
    const KillerPair saved[3] = {Killers[5], Killers[6], Killers[KillerPlies - 1]};
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    const Move hash = Find("c3b5"), first = Find("a2a3"), second = Find("g2g3");
    const Move capture = Find("d5e6"), other = Find("e1g1");
    Killers[5] = {first, second};
    Killers[6] = {other, capture};
    History[WhiteBishop][Sq("d3")] = 1234;

    auto keys = Keys(5, hash);
    EXPECT_EQ(KeyOf(keys, "c3b5"), 62000);
    EXPECT_EQ(KeyOf(keys, "a2a3"), 60999);
    EXPECT_EQ(KeyOf(keys, "g2g3"), 60998);
    EXPECT_EQ(KeyOf(keys, "e2d3"), 1234);
    EXPECT_EQ(KeyOf(keys, "d5e6"), 61119);  // pawn takes pawn
    EXPECT_EQ(KeyOf(keys, "e1g1"), 0);

    // The hash move beats the capture key; a capture among the killers keeps its capture key.
    keys = Keys(6, capture);
    EXPECT_EQ(KeyOf(keys, "d5e6"), 62000);
    EXPECT_EQ(KeyOf(keys, "e1g1"), 60999);
    EXPECT_EQ(KeyOf(keys, "a2a3"), 0);
    keys = Keys(6, NullMove);
    EXPECT_EQ(KeyOf(keys, "d5e6"), 61119);
    EXPECT_EQ(KeyOf(keys, "c3b5"), 0);

    // No killer slot beyond ply 127: neither the last slot nor a wrapped one is read.
    Killers[KillerPlies - 1] = {first, second};
    Killers[0] = {first, second};
    for (int cply : {128, 129, 200, 255}) {
        keys = Keys(u8(cply), hash);
        EXPECT_EQ(KeyOf(keys, "a2a3"), 0) << cply;
        EXPECT_EQ(KeyOf(keys, "g2g3"), 0) << cply;
        EXPECT_EQ(KeyOf(keys, "e2d3"), 1234) << cply;
        EXPECT_EQ(KeyOf(keys, "c3b5"), 62000) << cply;
    }
    Killers[5] = saved[0];
    Killers[6] = saved[1];
    Killers[KillerPlies - 1] = saved[2];
    Killers[0] = KillerPair{};
}

TEST_F(SearchTest, RewardingAQuietMove) {
    std::memset(History, 0, sizeof History);
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    const Move a = Find("a2a3"), b = Find("g2g3"), c = Find("e2d3");
    Killers[7] = KillerPair{};
    const KillerPair neighbours[2] = {Killers[6], Killers[8]};

    RewardQuietMove(a, 3, 7);
    EXPECT_EQ(MoveWord(Killers[7].first), MoveWord(a));
    EXPECT_EQ(MoveWord(Killers[7].second), 0u);
    EXPECT_EQ(History[WhitePawn][Sq("a3")], 3);
    RewardQuietMove(b, 2, 7);
    EXPECT_EQ(MoveWord(Killers[7].first), MoveWord(b));
    EXPECT_EQ(MoveWord(Killers[7].second), MoveWord(a));
    RewardQuietMove(b, 4, 7);  // already first: the pair stays
    EXPECT_EQ(MoveWord(Killers[7].first), MoveWord(b));
    EXPECT_EQ(MoveWord(Killers[7].second), MoveWord(a));
    EXPECT_EQ(History[WhitePawn][Sq("g3")], 6);
    RewardQuietMove(a, 1, 7);
    EXPECT_EQ(MoveWord(Killers[7].first), MoveWord(a));
    EXPECT_EQ(MoveWord(Killers[7].second), MoveWord(b));
    EXPECT_EQ(History[WhitePawn][Sq("a3")], 4);
    EXPECT_EQ(MoveWord(Killers[6].first), MoveWord(neighbours[0].first));
    EXPECT_EQ(MoveWord(Killers[8].first), MoveWord(neighbours[1].first));

    // Reaching 60000 halves every counter at once; 59999 does not.
    History[WhiteBishop][Sq("d3")] = 59990;
    History[BlackKnight][10] = 101;
    RewardQuietMove(c, 9, 7);
    EXPECT_EQ(History[WhiteBishop][Sq("d3")], 59999);
    EXPECT_EQ(History[BlackKnight][10], 101);
    RewardQuietMove(c, 1, 7);
    EXPECT_EQ(History[WhiteBishop][Sq("d3")], 30000);
    EXPECT_EQ(History[BlackKnight][10], 50);
    EXPECT_EQ(History[WhitePawn][Sq("a3")], 2);
    EXPECT_EQ(History[WhitePawn][Sq("g3")], 3);
    History[WhiteBishop][Sq("d3")] = 59998;
    RewardQuietMove(c, 7, 7);
    EXPECT_EQ(History[WhiteBishop][Sq("d3")], 30002);
    EXPECT_EQ(History[BlackKnight][10], 25);

    // Beyond ply 127 only the history counter changes.
    KillerPair killers[KillerPlies];
    u16 history[13][64];
    std::memcpy(killers, Killers, sizeof killers);
    for (int cply : {128, 200, 255}) {
        std::memcpy(history, History, sizeof history);
        RewardQuietMove(b, 2, u8(cply));
        EXPECT_EQ(std::memcmp(killers, Killers, sizeof killers), 0) << cply;
        history[WhitePawn][Sq("g3")] += 2;
        EXPECT_EQ(std::memcmp(history, History, sizeof history), 0) << cply;
    }
}

// ---------------------------------------------------------------------------------------------------
// Repetition and the pass

TEST_F(SearchTest, RepetitionNeedsOneEarlierReversiblyReachedOccurrence) {
    const char* dance[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    Set(StartFen);
    EXPECT_FALSE(IsRepetition());
    for (const char* m : dance) {
        Play(m);
        EXPECT_FALSE(IsRepetition()) << m;  // back at the start, which the setup made
    }
    Play("g1f3");
    EXPECT_TRUE(IsRepetition());

    // The first occurrence came from a pawn move.
    Set(StartFen);
    Play("e2e4");
    Play("e7e5");
    for (const char* m : dance) {
        Play(m);
        EXPECT_FALSE(IsRepetition()) << m;
    }
    Play("g1f3");
    EXPECT_TRUE(IsRepetition());

    // ... from castling.
    const char* shuffle[] = {"e8e7", "g1h1", "e7e8", "h1g1"};
    Set("4k3/8/8/8/8/8/8/4K2R w K -");
    Play("e1g1");
    for (const char* m : shuffle) {
        Play(m);
        EXPECT_FALSE(IsRepetition()) << m;
    }
    Play("e8e7");
    EXPECT_TRUE(IsRepetition());

    // ... from a capture.
    const char* knight[] = {"e8e7", "e5f3", "e7e8", "f3e5"};
    Set("4k3/8/8/4n3/8/5N2/8/6K1 w - -");
    Play("f3e5");
    for (const char* m : knight) {
        Play(m);
        EXPECT_FALSE(IsRepetition()) << m;
    }
    Play("e8e7");
    EXPECT_TRUE(IsRepetition());
}

// An irreversible record an odd number of plies back ends the scan as well. In a game that can only
// be the pass: here White passes and both sides walk back to the position before it.
TEST_F(SearchTest, RepetitionScanStopsAtThePassRecord) {
    Set("k7/8/8/8/8/8/7R/4K3 b - -");
    Play("a8b8");  // reached reversibly
    const u64 before = Board.CurrentState->HashKey;
    PositionState* st = Board.CurrentState;
    st[1] = *st;
    st[1].EpSquare = 0;
    st[1].HashKey = st->HashKey ^ SideKey;
    st[1].Reversible = 0;
    Board.CurrentState = st + 1;
    Board.SideToMove ^= 1;
    for (const char* m : {"b8a8", "h2h3", "a8a7", "h3h2", "a7b8"}) {
        Play(m);
        EXPECT_FALSE(IsRepetition()) << m;
    }
    EXPECT_EQ(Board.CurrentState->HashKey, before);
    EXPECT_EQ(StateIndex(), 7);
    st[1].Reversible = 1;  // a reversible record there would let the scan reach it
    EXPECT_TRUE(IsRepetition());
}

TEST_F(SearchTest, PassNeedsARookAQueenOrTwoMinorPieces) {
    struct Case {
        const char* fen;
        bool allowed;
    };
    const Case cases[] = {
        {"4k3/8/8/8/8/8/8/R3K3 w - -", true},
        {"4k3/8/8/8/8/8/8/3QK3 w - -", true},
        {"4k3/8/8/8/8/8/8/1NB1K3 w - -", true},
        {"4k3/8/8/8/8/8/8/1N1NK3 w - -", true},
        {"4k3/8/8/8/8/8/8/2BBK3 w - -", true},
        {"4k3/8/8/8/8/8/PPPPPPPP/2B1K3 w - -", false},
        {"4k3/8/8/8/8/8/PPPPPPPP/1N2K3 w - -", false},
        {"4k3/8/8/8/8/8/PPPPPPPP/4K3 w - -", false},
        {"rq2k3/8/8/8/8/8/P7/4K3 w - -", false},  // only the opponent's pieces count
        {"4k3/8/8/8/8/8/8/4K3 w - -", false},
    };
    for (const Case& c : cases) {
        Set(c.fen);
        EXPECT_EQ(NullMoveAllowed(), c.allowed) << c.fen;
        Flip();
        EXPECT_EQ(NullMoveAllowed(), c.allowed) << c.fen << " flipped";
    }
}

// Number of legal moves of the side to move.
int LegalMoves() {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    int n = 0;
    for (MoveSlot* s = list.slots; s < list.end; ++s) {
        if (!MakeMove(s->move)) continue;
        ++n;
        UnmakeMove(s->move);
    }
    return n;
}

// A side far ahead passes and returns beta; the node then makes nothing but the pass and what the
// reduced search after it makes.
TEST_F(SearchTest, SuccessfulPassReturnsBetaAtOnce) {
    ClearSearchTables();
    // After the pass (depth 3: quiescence) the lone king has nothing to take: one position made.
    Set("4k3/8/8/8/8/8/8/R2QK3 w - -");
    Snapshot before = Snapshot::Take();
    NodeCount = 0;
    EXPECT_EQ(AlphaBeta(3, 1, 99, 100), 100);
    EXPECT_EQ(NodeCount, 1u);
    EXPECT_TRUE(before.Same());
    // No pass at depth 1: the first move reaches beta and its own score comes back.
    NodeCount = 0;
    EXPECT_GT(AlphaBeta(1, 1, 99, 100), 100);
    EXPECT_GE(NodeCount, 1u);
    // No pass with king and pawns only, nor in check: the moves are searched.
    Set("4k3/8/8/8/8/8/PPPPPPPP/4K3 w - -");
    NodeCount = 0;
    EXPECT_GE(AlphaBeta(3, 1, 99, 100), 100);
    EXPECT_GT(NodeCount, 1u);
    Set("4k3/8/8/8/8/8/4r3/R2QK3 w - -");
    NodeCount = 0;
    EXPECT_GE(AlphaBeta(3, 1, 99, 100), 100);
    EXPECT_GT(NodeCount, 1u);
}

// The record the pass pushes ends every repetition scan: here Black's reply Kb8-a7 to a pass would
// otherwise bring back the position after 1.Rh2 Ka7 and score 0, refuting the pass.
TEST_F(SearchTest, PassRecordIsIrreversible) {
    ClearSearchTables();
    Set("k7/8/8/8/8/8/4Q3/4K2R w - -");
    for (const char* m : {"h1h2", "a8a7", "h2h3", "a7a8", "h3h2", "a8b8"}) Play(m);
    int replies = 0;
    {
        // The pass pushed by hand: with a reversible record the repetition would be seen.
        PositionState* st = Board.CurrentState;
        st[1] = *st;
        st[1].EpSquare = 0;
        st[1].HashKey = st->HashKey ^ SideKey;
        st[1].Reversible = 1;
        Board.CurrentState = st + 1;
        Board.SideToMove ^= 1;
        replies = LegalMoves();
        Move back = Find("b8a7");
        ASSERT_TRUE(MakeMove(back));
        EXPECT_TRUE(IsRepetition());
        Board.CurrentState[-1].Reversible = 0;
        EXPECT_FALSE(IsRepetition());
        UnmakeMove(back);
        Board.CurrentState = st;
        Board.SideToMove ^= 1;
    }
    // Depth 4: the pass is searched to depth 1, where each of Black's replies is made and answered
    // by White's stand pat. None repeats, so the pass holds.
    Snapshot before = Snapshot::Take();
    NodeCount = 0;
    EXPECT_EQ(AlphaBeta(4, 1, 99, 100), 100);
    EXPECT_EQ(NodeCount, u64(1 + replies));
    EXPECT_TRUE(before.Same());
}

// ---------------------------------------------------------------------------------------------------
// Alpha-beta

TEST_F(SearchTest, TableEntryAnswersBeforeAnythingElse) {
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    const u64 key = Board.CurrentState->HashKey;
    TransEntry& e = TransTable[key & (TransTableSize - 1)];
    const TransEntry saved = e;

    auto probe = [&](u8 bound, u8 storedDepth, i16 score, u8 depth, u64 storedKey = 0) {
        e = TransEntry{NullMove, bound, storedDepth, score, storedKey ? storedKey : key};
        Board.CurrentState->InCheck = 0xAA;
        NodeCount = 0;
        return AlphaBeta(depth, 1, -100, 100);
    };
    // Exact with enough depth: returned at once, outside the window too, before the check test.
    EXPECT_EQ(probe(BoundExact, 4, 1234, 4), 1234);
    EXPECT_EQ(NodeCount, 0u);
    EXPECT_EQ(Board.CurrentState->InCheck, 0xAA);
    EXPECT_EQ(probe(BoundExact, 9, -20, 2), -20);
    EXPECT_EQ(NodeCount, 0u);
    // Bounds that decide the window.
    EXPECT_EQ(probe(BoundLower, 3, 500, 3), 500);
    EXPECT_EQ(NodeCount, 0u);
    EXPECT_EQ(probe(BoundUpper, 3, -500, 3), -500);
    EXPECT_EQ(NodeCount, 0u);
    // Too shallow, another position's key, or a bound on the wrong side: the node is searched.
    probe(BoundExact, 1, 1234, 2);
    EXPECT_GT(NodeCount, 0u);
    EXPECT_EQ(Board.CurrentState->InCheck, 0);
    probe(BoundExact, 4, 1234, 2, key ^ (u64(1) << 60));
    EXPECT_GT(NodeCount, 0u);
    probe(BoundLower, 4, -500, 2);
    EXPECT_GT(NodeCount, 0u);
    probe(BoundUpper, 4, 500, 2);
    EXPECT_GT(NodeCount, 0u);
    e = saved;
}

TEST_F(SearchTest, ShallowEntryStillOrdersItsMoveFirst) {
    // With a window that every move reaches, the node returns the score of the first move it tries.
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    const u64 key = Board.CurrentState->HashKey;
    TransEntry& e = TransTable[key & (TransTableSize - 1)];
    const TransEntry saved = e;
    auto firstScore = [](const char* text) {
        Move m = Find(text);
        EXPECT_TRUE(MakeMove(m));
        int s = -Quiescence(31999, 32000);
        UnmakeMove(m);
        return s;
    };
    const int quiet = firstScore("a2a3");
    e = TransEntry{NullMove, BoundExact, 0, 0, key};
    const int natural = AlphaBeta(1, 1, -32000, -31999);
    ASSERT_NE(natural, quiet);
    e = TransEntry{Find("a2a3"), BoundExact, 0, 0, key};
    EXPECT_EQ(AlphaBeta(1, 1, -32000, -31999), quiet);
    e = saved;
}

TEST_F(SearchTest, MatedAndStalematedNodesStoreNothing) {
    const TransEntry empty{};
    for (const char* fen : {"R5k1/5ppp/8/8/8/8/8/6K1 b - -", "7k/5Q2/6K1/8/8/8/8/8 b - -"}) {
        for (int flip = 0; flip < 2; ++flip) {
            Set(fen);
            if (flip) Flip();
            const bool mated = SideToMoveInCheck();
            TransEntry& e = TransTable[Board.CurrentState->HashKey & (TransTableSize - 1)];
            e = empty;
            for (int ply : {0, 1, 5}) {
                EXPECT_EQ(AlphaBeta(1, u8(ply), -MateValue, MateValue), mated ? ply + 1 - MateValue : 0) << fen;
                EXPECT_EQ(AlphaBeta(3, u8(ply), -10, 10), mated ? ply + 1 - MateValue : 0) << fen;
            }
            EXPECT_EQ(std::memcmp(&e, &empty, sizeof e), 0) << fen;
        }
    }
}

TEST_F(SearchTest, FailLowNodeStillRewardsItsBestQuietMove) {
    Set("4k3/2p5/8/8/8/8/PP3PPP/4K3 w - -");  // no pass for king and pawns
    std::memset(History, 0, sizeof History);
    Killers[10] = KillerPair{};
    TransTable[Board.CurrentState->HashKey & (TransTableSize - 1)] = TransEntry{};
    EXPECT_EQ(AlphaBeta(2, 9, 30000, 30001), 30000);
    const Move m = Killers[10].first;
    ASSERT_NE(MoveWord(m), 0u);
    EXPECT_EQ(m.captured, 0);
    EXPECT_EQ(Board.Mailbox[m.from] <= WhiteKing && Board.Mailbox[m.from] != NoPiece, true) << Text(m);
    // Only the node itself rewards with a non-zero depth (1); its children add 0.
    int total = 0;
    for (auto& row : History)
        for (u16 h : row) total += h;
    EXPECT_EQ(total, 1);
    EXPECT_EQ(History[Board.Mailbox[m.from]][m.to], 1) << Text(m);

    // In check nothing is rewarded at the node.
    Set("4k3/8/8/8/8/8/PP3PPP/r3K3 w - -");
    Killers[10] = KillerPair{};
    AlphaBeta(2, 9, 30000, 30001);
    EXPECT_EQ(MoveWord(Killers[10].first), 0u);
}

TEST_F(SearchTest, DeepPliesLeaveTheKillerTableAlone) {
    ClearSearchTables();
    Set("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
    KillerPair killers[KillerPlies];
    std::memcpy(killers, Killers, sizeof killers);
    std::memset(History, 0, sizeof History);
    Snapshot before = Snapshot::Take();
    NodeCount = 0;
    for (int ply : {127, 140, 200}) AlphaBeta(3, u8(ply), -MateValue, MateValue);
    EXPECT_GT(NodeCount, 1000u);
    EXPECT_TRUE(before.Same());
    EXPECT_EQ(std::memcmp(killers, Killers, sizeof killers), 0);
    int total = 0;
    for (auto& row : History)
        for (u16 h : row) total += h;
    EXPECT_GT(total, 0);  // the history counters were rewarded all the same
}

// Alpha-beta with its table, ordering and null windows returns the plain minimax value with the full
// window and consistent bounds with narrow ones. Depth 1 never passes; depth 2 is checked where the
// side to move may not pass.
TEST_F(SearchTest, AlphaBetaAgreesWithPlainMinimax) {
    ClearSearchTables();
    auto check = [](int depth, const std::string& where) {
        SCOPED_TRACE(where);
        Budget = 30000;
        const int v = ReferenceSearch(depth, 1);
        if (Budget < 0) return false;
        Snapshot before = Snapshot::Take();
        for (int a : {v - 100, v - 1, v, v + 1, v + 60}) {
            for (int width : {1, 30}) {
                int r = AlphaBeta(u8(depth), 1, i16(a), i16(a + width));
                EXPECT_TRUE(Consistent(v, a, a + width, r));
            }
        }
        EXPECT_EQ(AlphaBeta(u8(depth), 1, -MateValue, MateValue), v);
        EXPECT_TRUE(before.Same());
        return true;
    };
    int checked = 0;
    for (const std::string& fen : PerftFens()) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            checked += check(1, fen + (flip ? " (flipped)" : ""));
            Flip();
        }
    }
    EXPECT_GE(checked, 60);
    const char* endings[] = {
        "8/5k2/3p4/1p1Pp2p/pP2Pp1P/P4P1K/8/8 w - -",
        "8/8/1p6/p1p5/P1P2k2/1P6/5K2/8 w - -",
        "6k1/5ppp/8/8/8/8/5PPP/3N2K1 w - -",
        "8/8/4k3/8/2p5/8/B7/4K3 w - -",
        "4k3/8/8/3pP3/8/8/8/4K3 w - d6",
        "4k3/4P3/4K3/8/8/8/8/8 b - -",
        "k7/P7/1K6/8/8/8/8/8 b - -",
        "8/8/8/2k5/8/8/1P1K4/8 b - -",
        "3r2k1/8/8/8/8/8/5PPP/6K1 w - -",
        "8/6pk/8/8/1q6/8/6PP/7K w - -",
    };
    for (const char* fen : endings) {
        Set(fen);
        for (int flip = 0; flip < 2; ++flip) {
            ASSERT_FALSE(NullMoveAllowed()) << fen;
            ASSERT_FALSE(SideToMoveInCheck()) << fen;
            EXPECT_TRUE(check(1, std::string(fen) + (flip ? " (flipped)" : "")));
            EXPECT_TRUE(check(2, std::string(fen) + (flip ? " (flipped) depth 2" : " depth 2")));
            Flip();
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// The driver

std::string LastLine(const std::string& out) {
    std::vector<std::string> lines = Lines(out);
    return lines.empty() ? "" : lines.back();
}

// One thinking line taken apart; ok only when printing the fields again gives the line exactly.
struct Thinking {
    bool ok = false;
    unsigned depth = 0, time = 0, nps = 0;
    std::string kind;  // "cp" or "mate" (UCI only)
    int score = 0;
    unsigned long long nodes = 0;
    std::string move;
};

bool MoveTextValid(const char* t) {
    size_t n = std::strlen(t);
    if (n != 4 && n != 5) return false;
    for (int i = 0; i < 4; i += 2)
        if (t[i] < 'a' || t[i] > 'h' || t[i + 1] < '1' || t[i + 1] > '8') return false;
    return n == 4 || std::strchr("qrbn", t[4]);
}

Thinking ParseUci(const std::string& line) {
    Thinking t;
    char kind[8] = {}, move[8] = {};
    if (std::sscanf(line.c_str(), "info depth %u score %7s %d time %u nodes %llu nps %u pv %7s", &t.depth, kind, &t.score,
                    &t.time, &t.nodes, &t.nps, move) != 7)
        return t;
    char again[200];
    std::snprintf(again, sizeof again, "info depth %u score %s %d time %u nodes %llu nps %u pv %s", t.depth, kind, t.score,
                  t.time, t.nodes, t.nps, move);
    t.kind = kind;
    t.move = move;
    t.ok = line == again && (t.kind == "cp" || t.kind == "mate") && MoveTextValid(move);
    return t;
}

Thinking ParseXboard(const std::string& line) {
    Thinking t;
    char move[8] = {};
    if (std::sscanf(line.c_str(), "%u %d %u %llu %7s", &t.depth, &t.score, &t.time, &t.nodes, move) != 5) return t;
    char again[200];
    std::snprintf(again, sizeof again, "%u %d %u %llu %s", t.depth, t.score, t.time, t.nodes, move);
    t.move = move;
    t.ok = line == again && MoveTextValid(move);
    return t;
}

TEST_F(SearchTest, MateInOneScoresAndPrintsMateOne) {
    for (int flip = 0; flip < 2; ++flip) {
        Set("6k1/5ppp/8/8/8/8/8/R5K1 w - -");
        if (flip) Flip();
        UciMode = 1;
        Move best;
        std::string out = SearchPrinting(2, &best);
        EXPECT_EQ(Text(best), flip ? "a8a1" : "a1a8");
        Thinking t = ParseUci(LastLine(out));
        EXPECT_TRUE(t.ok) << out;
        EXPECT_EQ(t.depth, 2u);
        EXPECT_EQ(t.kind, "mate");
        EXPECT_EQ(t.score, 1);
        EXPECT_EQ(t.move, Text(best));
        UciMode = 0;
        XboardMode = 1;
        out = SearchPrinting(2, &best);
        t = ParseXboard(LastLine(out));
        EXPECT_TRUE(t.ok) << out;
        EXPECT_EQ(t.depth, 2u);
        EXPECT_EQ(t.score, 32765);
        EXPECT_EQ(t.move, Text(best));
        XboardMode = 0;
    }
}

TEST_F(SearchTest, BeingMatedInOnePrintsMateMinusOne) {
    // The king's only move walks into Rh8 mate.
    for (int flip = 0; flip < 2; ++flip) {
        Set("K7/8/1k6/8/8/8/8/7r w - -");
        if (flip) Flip();
        UciMode = 1;
        Move best;
        std::string out = SearchPrinting(3, &best);
        EXPECT_EQ(Text(best), flip ? "a1b1" : "a8b8");
        Thinking t = ParseUci(LastLine(out));
        EXPECT_TRUE(t.ok) << out;
        EXPECT_EQ(t.depth, 3u);
        EXPECT_EQ(t.kind, "mate");
        EXPECT_EQ(t.score, -1);
        EXPECT_EQ(t.move, Text(best));
        UciMode = 0;
        XboardMode = 1;
        out = SearchPrinting(3, &best);
        t = ParseXboard(LastLine(out));
        EXPECT_TRUE(t.ok) << out;
        EXPECT_EQ(t.depth, 3u);
        EXPECT_EQ(t.score, -32764);
        EXPECT_EQ(t.move, Text(best));
        XboardMode = 0;
    }
}

// True when m mates in two: the opponent has a reply, and every reply allows a mate in one.
bool MatesInTwo(Move m) {
    if (!MakeMove(m)) return false;
    bool all = true, anyReply = false;
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList replies;
    ClearMoveList(replies);
    GenerateMoves(replies);
    for (MoveSlot* r = replies.slots; r < replies.end && all; ++r) {
        if (!MakeMove(r->move)) continue;
        anyReply = true;
        bool mate = false;
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList finals;
        ClearMoveList(finals);
        GenerateMoves(finals);
        for (MoveSlot* f = finals.slots; f < finals.end && !mate; ++f) {
            if (!MakeMove(f->move)) continue;
            Board.CurrentState->InCheck = SideToMoveInCheck();
            mate = Board.CurrentState->InCheck && HasNoLegalMove();
            UnmakeMove(f->move);
        }
        all = mate;
        UnmakeMove(r->move);
    }
    UnmakeMove(m);
    return all && anyReply;
}

TEST_F(SearchTest, MateInTwoIsFoundAtDepthFour) {
    for (const char* fen : {"7k/8/8/8/8/8/R7/1R4K1 w - -", "r5k1/5ppp/8/8/8/8/1Q3PPP/1R4K1 w - -"}) {
        for (int flip = 0; flip < 2; ++flip) {
            Set(fen);
            if (flip) Flip();
            SCOPED_TRACE(std::string(fen) + (flip ? " (flipped)" : ""));
            XboardMode = 1;
            Move best;
            std::string out = SearchPrinting(4, &best);
            Thinking t = ParseXboard(LastLine(out));
            EXPECT_TRUE(t.ok) << out;
            EXPECT_EQ(t.depth, 4u);
            EXPECT_EQ(t.score, 32763);  // "mate 2" in UCI form
            EXPECT_EQ(t.move, Text(best));
            EXPECT_TRUE(MatesInTwo(best)) << Text(best);
            XboardMode = 0;
        }
    }
}

TEST_F(SearchTest, SameSearchTwiceCountsTheSameNodes) {
    const char* fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -";
    Set(fen);
    ClearSearchTables();
    Limit(4);
    const Move first = SearchBestMove();
    const u64 nodes = NodeCount;
    // Something else in between; clearing the tables makes the next search start the same way.
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    Limit(3);
    SearchBestMove();
    Set(fen);
    ClearSearchTables();
    Limit(4);
    Snapshot before = Snapshot::Take();
    EXPECT_EQ(MoveWord(SearchBestMove()), MoveWord(first));
    EXPECT_EQ(NodeCount, nodes);
    EXPECT_TRUE(before.Same());
}

// Colour-flipped twins: the mirrored best move with the same score. (Node counts may differ: the
// generation order and Black's capture keys are not mirror images of White's.)
TEST_F(SearchTest, ColourFlippedTwinsFindTheMirroredMove) {
    const char* fens[] = {
        "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq -",  // Qxf7 mate
        "6k1/5ppp/8/3n4/8/8/5PPP/1R4K1 w - -",                              // Rb8 mate
        "4k3/8/8/3q4/8/8/3R4/4K3 w - -",                                    // Rxd5
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",  // Bxa6
    };
    XboardMode = 1;
    for (const char* fen : fens) {
        Set(fen);
        ClearSearchTables();
        Move a, b;
        std::string outA = SearchPrinting(4, &a);
        Flip();
        ClearSearchTables();
        std::string outB = SearchPrinting(4, &b);
        EXPECT_EQ(Text(b), Text(Mirrored(a))) << fen;
        Thinking lastA = ParseXboard(LastLine(outA)), lastB = ParseXboard(LastLine(outB));
        EXPECT_TRUE(lastA.ok && lastB.ok) << outA << outB;
        EXPECT_EQ(lastA.score, lastB.score) << fen;
    }
}

TEST_F(SearchTest, ThinkingLinesInBothForms) {
    Set("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
    for (int uci = 0; uci < 2; ++uci) {
        UciMode = u8(uci);
        XboardMode = u8(!uci);
        Move best;
        std::string out = SearchPrinting(4, &best);
        std::vector<Thinking> lines;
        for (const std::string& line : Lines(out)) {
            lines.push_back(uci ? ParseUci(line) : ParseXboard(line));
            ASSERT_TRUE(lines.back().ok) << line;
            if (uci) {
                EXPECT_EQ(lines.back().kind, "cp") << line;
            }
        }
        ASSERT_GE(lines.size(), 8u) << out;
        std::vector<int> perDepth(5, 0);
        for (size_t i = 0; i < lines.size(); ++i) {
            const Thinking& t = lines[i];
            ASSERT_GE(t.depth, 1u);
            ASSERT_LE(t.depth, 4u);
            ++perDepth[t.depth];
            if (i == 0) continue;
            const Thinking& prev = lines[i - 1];
            EXPECT_GE(t.depth, prev.depth) << out;
            EXPECT_GE(t.nodes, prev.nodes) << out;
            EXPECT_GE(t.time, prev.time) << out;
            // Within an iteration every line improves on the one before, except the closing line,
            // which repeats the iteration's best.
            bool closing = i + 1 == lines.size() || lines[i + 1].depth != t.depth;
            if (t.depth != prev.depth) continue;
            if (closing) {
                EXPECT_EQ(t.score, prev.score) << out;
                EXPECT_EQ(t.move, prev.move) << out;
            } else {
                EXPECT_GT(t.score, prev.score) << out;
            }
        }
        for (int d = 1; d <= 4; ++d) EXPECT_GE(perDepth[d], 2) << "depth " << d;
        EXPECT_EQ(lines.back().move, Text(best));
        EXPECT_EQ(lines.back().nodes, NodeCount);
    }
    UciMode = XboardMode = 0;
}

TEST_F(SearchTest, NothingIsPrintedWithoutPostThinking) {
    Set("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
    for (int uci = 0; uci < 2; ++uci) {
        UciMode = u8(uci);
        XboardMode = u8(!uci);
        Limit(3);
        PostThinking = 0;
        testing::internal::CaptureStdout();
        Move best = SearchBestMove();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_NE(MoveWord(best), 0u);
    }
    UciMode = XboardMode = 0;
}

TEST_F(SearchTest, NoLegalMoveGivesTheNullMoveSilently) {
    UciMode = 1;
    for (const char* fen : {"R5k1/5ppp/8/8/8/8/8/6K1 b - -", "7k/5Q2/6K1/8/8/8/8/8 b - -",
                            "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -"}) {
        for (int flip = 0; flip < 2; ++flip) {
            Set(fen);
            if (flip) Flip();
            Snapshot before = Snapshot::Take();
            Move best;
            EXPECT_EQ(SearchPrinting(3, &best), "") << fen;
            EXPECT_EQ(MoveWord(best), MoveWord(NullMove)) << fen;
            EXPECT_TRUE(before.Same());
        }
    }
    UciMode = 0;
}

TEST_F(SearchTest, DepthZeroReturnsTheFirstLegalMoveUnsearched) {
    UciMode = 1;
    // The pinned knight's moves come first in the list; the king's d2 is the first legal one.
    Set("4r2k/8/8/8/8/8/4N3/4K3 w - -");
    Move best;
    EXPECT_EQ(SearchPrinting(0, &best), "");
    EXPECT_EQ(Text(best), "e1d2");
    Flip();
    EXPECT_EQ(SearchPrinting(0, &best), "");
    EXPECT_EQ(Text(best), "e8d8");  // Black's king walks its targets from rank 8 down
    // In check from the knight: the rook moves and Kd2 come first and are illegal.
    Set("4k3/8/8/8/8/5n2/8/R3K2R w KQ -");
    Snapshot before = Snapshot::Take();
    EXPECT_EQ(SearchPrinting(0, &best), "");
    EXPECT_EQ(Text(best), "e1e2");
    EXPECT_TRUE(before.Same());
    UciMode = 0;
}

TEST_F(SearchTest, OneMillisecondStillCompletesAFirstIterationShorterThanAPoll) {
    // The first iteration makes 711 positions, fewer than the 1024 before the first poll.
    Set("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -");
    UciMode = 1;
    PostThinking = 1;
    SearchLimits = SearchLimitsData{0, 0, 0, 0, 1, 100, 0, 0, 0};  // movetime 1
    Snapshot before = Snapshot::Take();
    testing::internal::CaptureStdout();
    Move best = SearchBestMove();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(SearchLimits.HardLimit, 1u);
    EXPECT_TRUE(before.Same());
    std::vector<std::string> lines = Lines(out);
    ASSERT_GE(lines.size(), 2u) << out;
    // The first iteration closed with its summary line; whatever came after, the move returned is the
    // one printed last.
    int depthOneLines = 0;
    for (const std::string& l : lines) depthOneLines += l.rfind("info depth 1 ", 0) == 0;
    EXPECT_GE(depthOneLines, 2) << out;
    EXPECT_EQ(lines.back().substr(lines.back().rfind(' ') + 1), Text(best)) << out;
    Limit(1);
    PostThinking = 0;
    Move depthOne = SearchBestMove();
    if (lines.back().rfind("info depth 1 ", 0) == 0) {
        EXPECT_EQ(Text(best), Text(depthOne));
    }
    UciMode = 0;
}

TEST_F(SearchTest, TheFirstIterationIsPolledToo) {
    // Fifteen queens a side: quiescence at the first root move alone would run for hours. The first
    // moves in the list are those of the pinned knight; a 1 ms search stops inside the first legal
    // root move and answers with it, the position untouched.
    Set("qqqqqqqk/qqqqqqqq/8/8/8/8/QQQQNQQQ/QQQQKQQQ w - -");
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    ASSERT_FALSE(MakeMove(list.slots[0].move));
    SearchLimits = SearchLimitsData{0, 0, 0, 0, 1, 100, 0, 0, 0};  // movetime 1
    Snapshot before = Snapshot::Take();
    Move best = SearchBestMove();
    EXPECT_TRUE(before.Same());
    EXPECT_TRUE(StopSearch);
    Limit(0);
    EXPECT_EQ(Text(best), Text(SearchBestMove()));  // the first legal move
    ASSERT_TRUE(MakeMove(best)) << Text(best);
    UnmakeMove(best);
}

TEST_F(SearchTest, RootMoveThatRepeatsScoresZero) {
    // A queen down, White can only hope for the repetition Kg1, which the game history offers.
    const char* fen = "7k/8/8/3N4/8/8/q7/7K w - -";
    XboardMode = 1;
    Set(fen);
    Move fresh;
    std::string out = SearchPrinting(3, &fresh);
    EXPECT_LT(ParseXboard(LastLine(out)).score, -300) << out;

    Set(fen);
    for (const char* m : {"h1g1", "a2b2", "g1h1", "b2a2"}) Play(m);
    Move best;
    out = SearchPrinting(3, &best);
    EXPECT_EQ(Text(best), "h1g1");
    Thinking t = ParseXboard(LastLine(out));
    EXPECT_TRUE(t.ok) << out;
    EXPECT_EQ(t.depth, 3u);
    EXPECT_EQ(t.score, 0);
    EXPECT_EQ(t.move, "h1g1");
    XboardMode = 0;
}

TEST_F(SearchTest, DriverClearsHistoryButKeepsKillersAndTable) {
    Set("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
    History[WhiteKnight][20] = 777;
    const Move marker{1, 2, 0, 0};
    Killers[100] = {marker, marker};
    TransEntry& e = TransTable[12345];
    const TransEntry saved = e;
    e = TransEntry{marker, BoundExact, 50, 17, 0x0123456789ABCDEFull};
    Limit(1);  // quiescence only: nothing is rewarded
    SearchBestMove();
    int total = 0;
    for (auto& row : History)
        for (u16 h : row) total += h;
    EXPECT_EQ(total, 0);
    EXPECT_EQ(MoveWord(Killers[100].first), MoveWord(marker));
    EXPECT_EQ(e.key, 0x0123456789ABCDEFull);
    EXPECT_EQ(e.score, 17);
    e = saved;
    Killers[100] = KillerPair{};
}

}  // namespace
