// Perft: leaf counts of the legal move tree against counts from an independent engine, and the
// colour-flipped twin of every position giving the same numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "moves/makemove.h"
#include "moves/perft.h"

namespace {

struct EpdLine {
    int line;
    std::string fen;
    std::vector<u64> counts;  // counts[d - 1] is the count at depth d
};

std::vector<EpdLine> ReadEpd() {
    std::vector<EpdLine> result;
    std::ifstream in(VORNA_TESTDATA "/perft.epd");
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
        size_t semi = text.find(';');
        if (semi == std::string::npos) continue;
        EpdLine e{n, text.substr(0, semi), {}};
        std::istringstream rest(text.substr(semi));
        std::string field;
        while (std::getline(rest, field, ';')) {
            int depth;
            unsigned long long count;
            if (std::sscanf(field.c_str(), " D%d %llu", &depth, &count) == 2) {
                if (depth != int(e.counts.size()) + 1) break;
                e.counts.push_back(count);
            }
        }
        result.push_back(e);
    }
    return result;
}

u64 Count(int depth) {
    PerftCount = 0;
    Perft(u8(depth));
    return PerftCount;
}

class PerftTest : public ::testing::Test {
protected:
    void SetUp() override { InitOnce(); }
    static void Set(const std::string& fen) { ASSERT_TRUE(SetBoard(fen.c_str())) << fen << ": " << SetBoardError; }
    static void Flip() {
        FlipColours();
        ComputeHashKey();
    }
};

// Each line is counted at its deepest depth that stays within this many leaves.
constexpr u64 LeafBudget = 400000;

TEST_F(PerftTest, EveryEpdPositionAndItsColourFlippedTwin) {
    std::vector<EpdLine> lines = ReadEpd();
    ASSERT_EQ(lines.size(), 60u) << "perft.epd not found or changed";
    for (const EpdLine& e : lines) {
        ASSERT_FALSE(e.counts.empty()) << "line " << e.line;
        int depth = 1;
        while (depth < int(e.counts.size()) && e.counts[depth] <= LeafBudget) ++depth;
        const u64 want = e.counts[depth - 1];
        SCOPED_TRACE("line " + std::to_string(e.line) + ": " + e.fen + " depth " + std::to_string(depth));
        Set(e.fen);
        EXPECT_EQ(Count(1), e.counts[0]);
        EXPECT_EQ(Count(depth), want);
        Flip();
        EXPECT_EQ(Board.CurrentState->HashKey, FullHashKey());
        EXPECT_EQ(Count(1), e.counts[0]) << "flipped";
        EXPECT_EQ(Count(depth), want) << "flipped";
    }
}

TEST_F(PerftTest, SuitePositionsAtShallowDepth) {
    struct Case {
        const char* fen;
        std::vector<u64> counts;
    } cases[] = {
        {StartFen, {20, 400, 8902, 197281}},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -", {48, 2039, 97862}},
        {"8/PPP4k/8/8/8/8/4Kppp/8 w - -", {18}},
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", {14, 191, 2812, 43238, 674624}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        for (int flip = 0; flip < 2; ++flip) {
            Set(c.fen);
            if (flip) Flip();
            for (size_t d = 0; d < c.counts.size(); ++d)
                EXPECT_EQ(Count(int(d + 1)), c.counts[d]) << "depth " << d + 1 << (flip ? " flipped" : "");
        }
    }
    // The promotion race has no published count to compare with; its twin has to agree.
    Set("8/PPP4k/8/8/8/8/4Kppp/8 w - -");
    u64 plain = Count(4);
    Flip();
    EXPECT_EQ(Count(4), plain);
}

TEST_F(PerftTest, PerftAddsToTheCounterAndLeavesTheBoardAsItWas) {
    Set("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -");
    auto before = std::make_unique<BoardData>();
    std::memcpy(static_cast<void*>(before.get()), &Board, sizeof Board);
    u64 nodes = NodeCount;
    PerftCount = 1000;
    Perft(2);
    EXPECT_EQ(PerftCount, 1000u + 2039u);
    // Every legal move made is counted: 48 at the root and 2039 below it.
    EXPECT_EQ(NodeCount - nodes, 48u + 2039u);
    EXPECT_EQ(std::memcmp(Board.Mailbox, before->Mailbox, sizeof Board.Mailbox), 0);
    EXPECT_EQ(std::memcmp(Board.PieceBB, before->PieceBB, sizeof Board.PieceBB), 0);
    EXPECT_EQ(Board.WhitePieces, before->WhitePieces);
    EXPECT_EQ(Board.BlackPieces, before->BlackPieces);
    EXPECT_EQ(Board.SideToMove, before->SideToMove);
    EXPECT_EQ(Board.CurrentState, before->CurrentState);
    EXPECT_EQ(Board.CurrentState->HashKey, before->CurrentState->HashKey);
    EXPECT_EQ(Board.CurrentState->CastleRights, before->StateStack[0].CastleRights);

    PerftCount = 7;
    Perft(0);
    EXPECT_EQ(PerftCount, 7u);
}

TEST_F(PerftTest, RunPerftLineFormat) {
    Set(StartFen);
    ::testing::internal::CaptureStdout();
    RunPerft(3);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::regex line(R"(depth = 3, nodes =       8902, time = +[0-9]+\.[0-9]{2}(\t[0-9]+ kN / s)?\n)");
    EXPECT_TRUE(std::regex_match(out, line)) << out;
    // The time field is eight characters wide.
    size_t t = out.find("time = ");
    ASSERT_NE(t, std::string::npos);
    size_t end = out.find_first_of("\t\n", t);
    EXPECT_EQ(end - (t + 7), 8u) << out;
    EXPECT_EQ(PerftCount, 8902u);
}

}  // namespace
