#include "fuzz/command_lines.h"

#include <cstring>
#include <string>
#include <vector>

#include "board/fen.h"
#include "fuzz/harness.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {
// splitmix64: any seed, zero included, gives a good sequence.
struct Rng {
    u64 state;
    explicit Rng(unsigned seed) : state(seed) {}
    u64 Next() {
        u64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t n) { return n ? size_t(Next() % n) : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }
};

// Positions near the edges: castling, en passant, promotions, checks, mates and stalemates, the most
// moves a position is known to have, drawn material, move counters at the fifty-move limit, rights and
// en-passant squares that the placement does not back, and texts that SetBoard must refuse.
const char* const Fens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "R6R/3Q4/1Q4Q1/4Q3/2Q4Q/Q4Q2/pp1Q4/kBNN1KB1 w - - 0 1",
    "3k4/3P4/3K4/8/8/8/8/8 b - - 0 1",
    "7k/5Q2/6K1/8/8/8/8/8 w - - 0 1",
    "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1",
    "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1",
    "r3k2r/8/8/8/4Q3/8/8/R3K2R b KQkq - 0 1",
    "4k3/8/8/2pP4/8/8/8/4K3 w - c6 0 2",
    "4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 1",
    "8/8/8/8/8/8/8/K1k5 w - - 0 1",
    "8/8/4k3/8/2B5/8/4K3/5b2 w - - 0 1",
    "4k3/8/8/8/8/8/8/4KN2 w - - 0 1",
    "1r2k3/P1P5/8/8/8/8/p1p5/1R2K3 w - - 99 80",
    "k7/8/8/8/8/8/8/7K w KQkq - 0 1",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e3 0 1",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1",
    "8/8/8/8/8/8/8/8 w - - 0 1",
    "4k3/8/8/8/8/8/8/4K2r b - - 0 1",
    "P3k3/8/8/8/8/8/8/4K3 w - - 0 1",
    "kk6/8/8/8/8/8/8/K7 w - - 0 1",
    "qqqqkqqq/qqqqqqqq/q7/8/8/8/QQQQQQQQ/QQQQKQQQ w - - 0 1",
    "qqqqqqqk/qqqqqqqq/8/8/8/8/QQQQNQQQ/QQQQKQQQ w - - 0 1",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP",
    "9/8/8/8/8/8/8/8 w - -",
    "4k3/8/8/8/8/8/8/4K3 x - z9 0 1",
    "4k3/8/8/8/8/8/8/4K3 W - - -5 99999999999",
};

const char* const UciCommands[] = {"isready", "stop", "quit", "ucinewgame", "uci", "debug on", "debug off",
                                   "setoption name Hash value 16", "ponderhit", "register later", "   ", "",
                                   "isready ", " stop"};
const char* const GoWords[] = {"wtime", "btime", "winc", "binc", "movestogo", "depth", "movetime", "infinite",
                               "ponder", "nodes", "mate", "searchmoves"};
const char* const XboardCommands[] = {
    "new", "force", "go", "playother", "white", "black", "undo", "remove", "post", "nopost", "hard", "easy",
    "analyze", "exit", ".", "?", "hint", "bk", "draw", "random", "computer", "xboard", "protover 2",
    "accepted ping", "rejected draw", "result 1-0 {White mates}", "result 1/2-1/2 {Draw}", "otim 500",
    "quit", "usermove e2e4", "level 40 5 0", "level 0 2 12", "level 0 0:30 2.5", "level 1 1 0", "st 1",
    "sd 2", "time 1000", "ping 7"};
const char* const Numbers[] = {"0", "1", "2", "3", "5", "-1", "10", "100", "999", "1000", "5000", "60000",
                               "4294967295", "4294967296", "99999999999999999999", "-99999999999", "x", "1.5",
                               "0:30", "+7", ""};

std::string Number(Rng& rng) {
    if (rng.Chance(60)) return std::to_string(rng.Below(rng.Chance(50) ? 10 : 100000));
    return rng.Pick(Numbers);
}

std::string MoveText(Move m) {
    char text[6];
    MoveToText(m, text);
    return text;
}

// Sets up fen (the start position when it is refused) and plays up to plies random legal moves,
// leaning towards captures, promotions, castling and en passant. Returns the move texts; the board is
// left at the end of the game.
std::vector<std::string> RandomGame(Rng& rng, const char* fen, size_t plies) {
    std::vector<std::string> moves;
    if (!SetBoard(fen)) SetBoard(StartFen);
    for (size_t i = 0; i < plies; ++i) {
        TrimGameStack();
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        Move legal[MaxMoves], special[MaxMoves];
        size_t nLegal = 0, nSpecial = 0;
        for (const MoveSlot* slot = list.slots; slot < list.end; ++slot) {
            if (!MakeMove(slot->move)) continue;
            UnmakeMove(slot->move);
            legal[nLegal++] = slot->move;
            if (slot->move.captured || (slot->move.kind & ~KindDoublePush)) special[nSpecial++] = slot->move;
        }
        if (!nLegal) break;  // mate or stalemate
        const Move m = nSpecial && rng.Chance(30) ? special[rng.Below(nSpecial)] : legal[rng.Below(nLegal)];
        MakeMove(m);
        moves.push_back(MoveText(m));
    }
    return moves;
}

// A move text that is not quite a legal move: another side's move, a move of nothing, capitals, a
// promotion without its piece, one letter too many.
std::string OddMove(Rng& rng, const std::string& legal) {
    static const char* const odd[] = {"e2e5", "a1a1", "0000", "e1g1", "e8c8", "e7e8", "a7a8k", "h2h1q", "z9z9",
                                      "e2", "e2e4e", "O-O", "e7e8Q"};
    switch (rng.Below(4)) {
    case 0: {
        std::string s = legal;
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        return s;
    }
    case 1:
        return legal.size() == 5 ? legal.substr(0, 4) : legal + "q";
    default:
        return rng.Pick(odd);
    }
}

std::string Fen(Rng& rng) {
    std::string fen = rng.Pick(Fens);
    if (rng.Chance(40)) {
        // A position from a random game, written back as FEN, sometimes with move counters.
        RandomGame(rng, fen.c_str(), rng.Below(40));
        char text[100];
        BoardToFen(text);
        fen = text;
        if (rng.Chance(50)) fen += " " + Number(rng) + " " + Number(rng);
    }
    static const char letters[] = "pnbrqkPNBRQK12345678/ -wbKQkqe3";
    if (rng.Chance(15) && !fen.empty()) fen[rng.Below(fen.size())] = letters[rng.Below(sizeof letters - 1)];
    return fen;
}

std::string MoveListText(Rng& rng, const std::string& fen, size_t plies) {
    std::vector<std::string> moves = RandomGame(rng, fen.c_str(), plies);
    if (!moves.empty() && rng.Chance(15)) {
        size_t i = rng.Below(moves.size());
        moves[i] = OddMove(rng, moves[i]);
    }
    std::string text;
    for (const std::string& m : moves) text += (text.empty() ? "" : " ") + m;
    return text;
}

// Mostly short games; now and then one long enough to make the loops drop their oldest records.
size_t Plies(Rng& rng) { return rng.Chance(90) ? rng.Below(60) : rng.Chance(70) ? rng.Below(200) : rng.Below(700); }

std::string UciLines(Rng& rng) {
    switch (rng.Below(10)) {
    case 0:
    case 1:
    case 2: {
        const bool fen = rng.Chance(50);
        std::string start = fen ? Fen(rng) : std::string(StartFen);
        std::string line = fen ? "position fen " + start : "position startpos";
        if (rng.Chance(85)) line += " moves " + MoveListText(rng, start, Plies(rng));
        return line;
    }
    case 3:
    case 4:
    case 5: {
        std::string line = "go";
        for (size_t n = rng.Below(5); n > 0; --n) {
            line += " ";
            line += rng.Pick(GoWords);
            if (rng.Chance(85)) line += " " + Number(rng);
        }
        return line;
    }
    case 6:  // commands while the engine thinks
        switch (rng.Below(5)) {
        case 0: return "go infinite\nisready\nstop";
        case 1: return "go depth 30\nisready\nisready\nquit";
        case 2: return "go movetime 100000\nstop\nposition startpos\ngo depth 1";
        case 3: return "go wtime 100 btime 100\nstop\nstop";
        default: return "go infinite\nquit\nstop\nquit";
        }
    default:
        return rng.Pick(UciCommands);
    }
}

std::string XboardLines(Rng& rng) {
    switch (rng.Below(10)) {
    case 0:
    case 1:
    case 2: {
        // A game or a position, then moves one per line, in force mode or playing one side.
        const bool fen = rng.Chance(50);
        std::string start = fen ? Fen(rng) : std::string(StartFen);
        std::string text = fen ? "setboard " + start + "\n" : "new\n";
        if (rng.Chance(70)) text += "force\n";
        std::string moves = MoveListText(rng, start, Plies(rng));
        for (char& c : moves)
            if (c == ' ') c = '\n';
        text += moves;
        if (rng.Chance(40)) text += rng.Chance(50) ? "\ngo" : "\nplayother";
        return text;
    }
    case 3:
    case 4: {
        static const char* const withNumber[] = {"st", "sd", "time", "otim", "ping", "level", "protover"};
        std::string line = rng.Pick(withNumber);
        for (size_t n = rng.Chance(80) ? 1 + rng.Below(3) : 0; n > 0; --n) line += " " + Number(rng);
        return line;
    }
    case 5:  // commands while the engine thinks
        switch (rng.Below(6)) {
        case 0: return "go\n?";
        case 1: return "go\nnew";
        case 2: return "go\nforce\nundo\nundo";
        case 3: return "analyze\ne2e4\n.\nbk\nhint\nundo\nexit";
        case 4: return "go\ndraw\nping 1\nquit";
        default: return "analyze\nsetboard " + Fen(rng) + "\nnew\nquit\nexit";
        }
    default:
        return rng.Pick(XboardCommands);
    }
}

std::vector<std::string> SplitLines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* stop = newline ? newline : end;
        lines.emplace_back(p, size_t(stop - p));
        p = newline ? newline + 1 : end;
    }
    return lines;
}

// Where the line that starts after the first `lines` newlines begins (size when there are fewer).
size_t LineStart(const uint8_t* data, size_t size, size_t lines) {
    size_t at = 0;
    for (; lines > 0 && at < size; --lines) {
        const void* newline = std::memchr(data + at, '\n', size - at);
        at = newline ? size_t(static_cast<const uint8_t*>(newline) - data) + 1 : size;
    }
    return at;
}

size_t CountNewlines(const uint8_t* data, size_t size) {
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) n += data[i] == '\n';
    return n;
}

size_t JoinLines(const std::vector<std::string>& lines, uint8_t* out, size_t maxSize) {
    size_t n = 0;
    for (const std::string& line : lines) {
        if (n + line.size() + 1 > maxSize) return 0;
        std::memcpy(out + n, line.data(), line.size());
        n += line.size();
        out[n++] = '\n';
    }
    return n;
}

// One word of a line replaced, removed or repeated.
void MutateWord(Rng& rng, Protocol protocol, std::string& line) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    size_t i = rng.Below(words.size());
    switch (rng.Below(5)) {
    case 0: words.erase(words.begin() + long(i)); break;
    case 1: words.insert(words.begin() + long(i), words[i]); break;
    case 2: words[i] = Number(rng); break;
    case 3: words[i] = protocol == Protocol::Uci ? rng.Pick(GoWords) : rng.Pick(XboardCommands); break;
    default: words[i] = OddMove(rng, words[i]); break;
    }
    line.clear();
    for (size_t k = 0; k < words.size(); ++k) line += (k ? " " : "") + words[k];
}
}  // namespace

size_t MutateCommandLines(Protocol protocol, uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
    Rng rng(seed);
    // A third of the mutations are libFuzzer's own, on the bytes with the dictionary.
    if (rng.Chance(33)) return LLVMFuzzerMutate(data, size, maxSize);
    std::vector<std::string> lines = SplitLines(data, size);
    auto made = [&] { return protocol == Protocol::Uci ? UciLines(rng) : XboardLines(rng); };
    const size_t at = rng.Below(lines.size() + 1);
    switch (rng.Below(7)) {
    case 0:
    case 1:
        lines.insert(lines.begin() + long(at), made());
        break;
    case 2:
        if (at < lines.size()) lines[at] = made();
        break;
    case 3:
        if (at < lines.size()) lines.erase(lines.begin() + long(at));
        break;
    case 4:
        if (!lines.empty()) lines.insert(lines.begin() + long(at), lines[rng.Below(lines.size())]);
        break;
    case 5:
        if (lines.size() > 1) std::swap(lines[rng.Below(lines.size())], lines[rng.Below(lines.size())]);
        break;
    default:
        if (!lines.empty()) MutateWord(rng, protocol, lines[rng.Below(lines.size())]);
        break;
    }
    const size_t n = JoinLines(lines, data, maxSize);
    return n ? n : LLVMFuzzerMutate(data, size, maxSize);
}

size_t CrossOverCommandLines(const uint8_t* a, size_t sizeA, const uint8_t* b, size_t sizeB, uint8_t* out,
                             size_t maxOut, unsigned seed) {
    Rng rng(seed);
    // The lines of one input up to some point, then the lines of the other from some point on.
    const size_t head = LineStart(a, sizeA, rng.Below(CountNewlines(a, sizeA) + 1));
    const size_t tail = LineStart(b, sizeB, rng.Below(CountNewlines(b, sizeB) + 1));
    const size_t n = head + (sizeB - tail);
    if (n > maxOut) return 0;
    std::memcpy(out, a, head);
    std::memcpy(out + head, b + tail, sizeB - tail);
    return n;
}
