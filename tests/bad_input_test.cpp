// Bad input where the pipes of the end-to-end tests cannot look: the whole board after a refused
// position text, every prefix of a position text read without reading past its end, move texts of
// every length, and the input reader at its limits (line cut, carriage returns, NUL bytes, the end of
// input in the middle of a line). docs/bad-inputs.md lists what each case must do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/fen.h"
#include "frontend/console.h"
#include "moves/makemove.h"
#include "moves/notation.h"
#include "platform/platform.h"
#include "platform/platform_raw.h"

namespace {
void Init() {
    static bool done = false;
    if (done) return;
    InitTables();
    InitZobrist();
    done = true;
}

// The text in a heap block of exactly its size, so that AddressSanitizer catches a read past its end.
std::vector<char> Exact(const std::string& text) { return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1); }

struct BoardCopy {
    BoardData board;
    explicit BoardCopy(const BoardData& b) { std::memcpy(&board, &b, sizeof board); }
    bool operator==(const BoardData& b) const { return std::memcmp(&board, &b, sizeof board) == 0; }
};

bool Consistent() {
    if (Board.CurrentState->HashKey != FullHashKey()) return false;
    Bitboard all = 0;
    for (int c = 1; c <= 12; ++c) all |= Board.PieceBB[c];
    return all == (Board.WhitePieces | Board.BlackPieces) && PopCount(Board.PieceBB[WhiteKing]) == 1 &&
           PopCount(Board.PieceBB[BlackKing]) == 1;
}

const char* const Refused[] = {
    "",
    "8/8/8 w",
    "8/8/8/8/8/8/8/8 w - -",
    "4k3/8/8/8/8/8/8/K3K3 w - -",
    "4k2k/8/8/8/8/8/8/4K3 b - -",
    "P3k3/8/8/8/8/8/8/4K3 w - -",
    "4k3/8/8/8/8/8/8/p3K3 w - -",
    "qqqqqqqq/qqqqqqqq/qqqqqqqq/8/8/QQQQQQQQ/QQQQQQQQ/k6K w - -",
    "4k3/8/8/8/8/8/8/4K2r b - -",
    "\xff\xfe\x01",
};
}  // namespace

TEST(BadInput, RefusedPositionTextsLeaveTheWholeBoardAsItWas) {
    Init();
    // A position with a few moves made, so that the state stack is not at its bottom.
    ASSERT_TRUE(SetBoard("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQkq d6 0 1"));
    for (const char* text : {"e5d6", "e8g8", "e1c1"}) {
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        ASSERT_NE(m, NullMove) << text;
        ASSERT_TRUE(MakeMove(m)) << text;
    }
    const BoardCopy before(Board);
    for (const char* text : Refused) {
        std::vector<char> exact = Exact(text);
        EXPECT_FALSE(SetBoard(exact.data())) << text;
        EXPECT_TRUE(before == Board) << "refusing \"" << text << "\" changed the board";
        EXPECT_STRNE(SetBoardError, "") << text;
    }
}

TEST(BadInput, EveryPrefixOfAPositionTextIsReadWithinItsEnd) {
    Init();
    const std::string full = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
    for (size_t n = 0; n <= full.size(); ++n) {
        ASSERT_TRUE(SetBoard(StartFen));
        const BoardCopy start(Board);
        std::vector<char> exact = Exact(full.substr(0, n));
        if (SetBoard(exact.data())) {
            EXPECT_TRUE(Consistent()) << exact.data();
        } else {
            EXPECT_TRUE(start == Board) << exact.data();
            // From the whole placement on, the missing fields take their defaults.
            EXPECT_LT(n, full.find(' ')) << "refused: " << exact.data();
        }
    }
}

TEST(BadInput, MoveTextsOfEveryLength) {
    Init();
    ASSERT_TRUE(SetBoard(StartFen));
    Board.CurrentState->InCheck = SideToMoveInCheck();
    const std::string text = "e2e4qqqqqqqq";
    for (size_t n = 0; n <= text.size(); ++n) {
        std::vector<char> exact = Exact(text.substr(0, n));
        Move m = TextToMove(exact.data());
        if (n == 4)
            EXPECT_NE(m, NullMove);
        else
            EXPECT_EQ(m, NullMove) << exact.data();
    }
    std::vector<char> nul = {'e', '2', 0, 'e', '4', 0};
    EXPECT_EQ(TextToMove(nul.data()), NullMove);
}

namespace {
// Standard input replaced by a pipe holding data, for the reader's tests; restored afterwards.
class PipedInput {
public:
    explicit PipedInput(const std::string& data) {
        saved_ = dup(0);
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        // A pipe holds 64 KiB on Linux: write everything before anything is read.
        EXPECT_LT(data.size(), 60000u);
        EXPECT_EQ(write(fds[1], data.data(), data.size()), ssize_t(data.size()));
        close(fds[1]);
        dup2(fds[0], 0);
        close(fds[0]);
        ResetInputReader();
    }
    ~PipedInput() {
        dup2(saved_, 0);
        close(saved_);
        ResetInputReader();
    }

private:
    int saved_;
};

std::string ReadLine(size_t cap, int* length) {
    std::vector<char> buf(cap);
    *length = ReadInputLine(buf.data(), cap);
    return std::string(buf.data());
}
}  // namespace

TEST(BadInput, InputLinesAtAndBeyondTheBuffer) {
    const size_t cap = 8192;
    const std::string fits(cap - 1, 'a'), longer(cap, 'b'), much(30000, 'c');
    PipedInput input(fits + "\n" + longer + "\n" + much + "\nnext\n");
    int n;
    EXPECT_EQ(ReadLine(cap, &n), fits);
    EXPECT_EQ(n, int(cap - 1));
    EXPECT_EQ(ReadLine(cap, &n), longer.substr(0, cap - 1));  // cut, the rest discarded
    EXPECT_EQ(ReadLine(cap, &n), much.substr(0, cap - 1));
    EXPECT_EQ(ReadLine(cap, &n), "next");  // the discarded rest is no line of its own
    ReadLine(cap, &n);
    EXPECT_EQ(n, -1);
}

TEST(BadInput, LineEndsNulBytesAndTheEndOfInput) {
    static const char data[] = "crlf\r\n\r\ntwo\r\r\nnul\0byte\n\xff\xfe\nlast without newline";
    PipedInput input(std::string(data, sizeof data - 1));
    int n;
    EXPECT_EQ(ReadLine(128, &n), "crlf");
    EXPECT_EQ(ReadLine(128, &n), "");
    EXPECT_EQ(n, 0);                          // an empty line, which the loops skip
    EXPECT_EQ(ReadLine(128, &n), "two\r");    // one carriage return is removed
    EXPECT_EQ(ReadLine(128, &n), "nul");      // the text ends at the NUL byte...
    EXPECT_EQ(n, 8);                          // ...though the whole line was read
    EXPECT_EQ(ReadLine(128, &n), "\xff\xfe");
    EXPECT_EQ(ReadLine(128, &n), "last without newline");
    EXPECT_EQ(n, 20);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(InputWaiting()) << "the end of input must count as waiting, or a search would poll forever";
        ReadLine(128, &n);
        EXPECT_EQ(n, -1);
    }
    EXPECT_TRUE(InputEnded());
}

// Seconds as xboard sends them ("st", the increment of "level"): fractions count, integers read as they
// always did, and nothing that is not a positive time reads as one.
TEST(BadInput, SecondsWithFractionsAndBadValues) {
    EXPECT_EQ(ReadSeconds("0.5"), 500u);
    EXPECT_EQ(ReadSeconds("2.25"), 2250u);
    EXPECT_EQ(ReadSeconds("1"), 1000u);
    EXPECT_EQ(ReadSeconds("30"), 30000u);
    EXPECT_EQ(ReadSeconds("0.0001"), 1u);  // positive: never "no time limit"
    EXPECT_EQ(ReadSeconds("1e9"), 4000000000u);
    EXPECT_EQ(ReadSeconds("4000000"), 4000000000u);
    for (const char* none : {"-1", "0", "abc", "", "nan", "-inf"}) EXPECT_EQ(ReadSeconds(none), 0u) << none;
    EXPECT_EQ(ReadSeconds(nullptr), 0u);
}
