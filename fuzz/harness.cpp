#include "fuzz/harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "board/attacks.h"
#include "board/fen.h"
#include "frontend/console.h"
#include "frontend/xboard.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"
#include "platform/platform_raw.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

void InitEngineOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    InitTables();
    InitZobrist();
    Require(SetBoard(StartFen), "the start position is refused");
    // Replies go to standard output, each flushed at once: into a stream that drops them without a
    // system call, since a write per reply would cost more than most inputs.
    static cookie_io_functions_t drop = {nullptr, [](void*, const char*, size_t n) { return ssize_t(n); },
                                         nullptr, nullptr};
    if (FILE* sink = fopencookie(nullptr, "w", drop)) stdout = sink;
    // The protocol loops write a log: into a scratch directory, not the working directory. A directory
    // in memory where there is one; the log names there lead to /dev/null, so that the line written and
    // flushed for every command does not fill memory page by page.
    static char inMemory[] = "/dev/shm/vorna-fuzz-XXXXXX", onDisk[] = "/tmp/vorna-fuzz-XXXXXX";
    static const char* dir = mkdtemp(inMemory);
    if (!dir) dir = mkdtemp(onDisk);
    if (!dir) Fail("cannot make a scratch directory for the log");
    static char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%s/vorna-fuzz", dir);
    SetLogPrefix(prefix);
    for (const char* suffix : {"_uci.log", "_wb.log"}) {
        char path[96];
        std::snprintf(path, sizeof path, "%s%s", prefix, suffix);
        if (symlink("/dev/null", path) != 0) Fail("cannot link the log to /dev/null");
    }
    std::atexit([] {
        for (const char* suffix : {"_uci.log", "_wb.log"}) {
            char path[96];
            std::snprintf(path, sizeof path, "%s%s", prefix, suffix);
            std::remove(path);
        }
        rmdir(dir);
    });
}

void StartInput(const uint8_t* data, size_t size) {
    InitEngineOnce();
    ResetInputReader();
    FeedInput(data, size);
    Require(SetBoard(StartFen), "the start position is refused");
    NodeCount = 0;
    NextPollNodes = 1024;
    PendingCommand[0] = 0;
    QuitRequested = 0;
    IgnoreInput = 0;
    StopSearch = 0;
    UciMode = XboardMode = AnalyzeMode = 0;
    PostThinking = 1;
    SearchLimits = SearchLimitsData{0, 0, 0, 0, 0, 100, 0, 0, 0};
    ForceMode = 1;
    EngineColour = Black;
    GameHistoryCount = 0;
    // The transposition table is kept, as it is from game to game; it is large to clear per input and
    // checks its entries by the whole key.
    std::memset(Killers, 0, sizeof Killers);
    std::memset(History, 0, sizeof History);
    if (LogFile) std::fclose(LogFile);
    LogFile = nullptr;
}

void EndInput() {
    if (LogFile) std::fclose(LogFile);
    LogFile = nullptr;
}

void BoardToFen(char* out) {
    char* p = out;
    for (int row = 0; row < 8; ++row) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            PieceCode c = Board.Mailbox[row * 8 + file];
            if (!c) {
                ++empty;
                continue;
            }
            if (empty) *p++ = char('0' + empty);
            empty = 0;
            *p++ = c <= 12 ? PieceLetters[c] : '?';
        }
        if (empty) *p++ = char('0' + empty);
        if (row < 7) *p++ = '/';
    }
    *p++ = ' ';
    *p++ = Board.SideToMove == White ? 'w' : 'b';
    *p++ = ' ';
    u8 rights = Board.CurrentState->CastleRights;
    if (!rights) *p++ = '-';
    if (rights & 2) *p++ = 'K';
    if (rights & 1) *p++ = 'Q';
    if (rights & 8) *p++ = 'k';
    if (rights & 4) *p++ = 'q';
    *p++ = ' ';
    u8 ep = Board.CurrentState->EpSquare;
    if (ep && ep < 64) {
        SquareName(ep, p);
        p += 2;
    } else {
        *p++ = '-';
    }
    *p = 0;
}

void Fail(const char* what) {
    char fen[100];
    const PositionState* st = Board.CurrentState;
    if (st >= Board.StateStack && st < Board.StateStack + StateStackSize)
        BoardToFen(fen);
    else
        std::strcpy(fen, "(current record outside the state stack)");
    std::fprintf(stderr, "\nFAILED CHECK: %s\nposition: %s\n", what, fen);
    std::fflush(stderr);
    std::abort();
}

Snapshot TakeSnapshot() {
    Snapshot s;
    std::memset(&s, 0, sizeof s);  // padding included, so that memcmp compares fields only
    std::memcpy(s.mailbox, Board.Mailbox, sizeof s.mailbox);
    std::memcpy(s.pieceBB, Board.PieceBB, sizeof s.pieceBB);
    s.white = Board.WhitePieces;
    s.black = Board.BlackPieces;
    s.side = Board.SideToMove;
    s.current = Board.CurrentState;
    const PositionState* st = Board.CurrentState;
    s.state.CastleRights = st->CastleRights;
    s.state.EpSquare = st->EpSquare;
    s.state.InCheck = st->InCheck;
    s.state.HashKey = st->HashKey;
    s.state.Reversible = st->Reversible;
    const PositionState* st0 = Board.StateStack;
    s.state0.CastleRights = st0->CastleRights;
    s.state0.EpSquare = st0->EpSquare;
    s.state0.InCheck = st0->InCheck;
    s.state0.HashKey = st0->HashKey;
    s.state0.Reversible = st0->Reversible;
    return s;
}

bool SameBoard(const Snapshot& a, const Snapshot& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

namespace {
int ColourOf(PieceCode c) { return c <= WhiteKing ? White : Black; }

bool OnBoard(int file, int row) { return file >= 0 && file < 8 && row >= 0 && row < 8; }
}  // namespace

bool SlowAttacked(const PieceCode* mailbox, int square, int by) {
    const int file = FileOf(square), row = RowOf(square);
    auto is = [&](int f, int r, int type) {
        return OnBoard(f, r) && mailbox[r * 8 + f] == (by == White ? type : type + 6);
    };
    static const int knight[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
    for (auto& d : knight)
        if (is(file + d[0], row + d[1], WhiteKnight)) return true;
    for (int df = -1; df <= 1; ++df)
        for (int dr = -1; dr <= 1; ++dr)
            if ((df || dr) && is(file + df, row + dr, WhiteKing)) return true;
    // A White pawn attacks the squares one row up (lower row number); a Black pawn one row down.
    int pawnRow = by == White ? row + 1 : row - 1;
    if (is(file - 1, pawnRow, WhitePawn) || is(file + 1, pawnRow, WhitePawn)) return true;
    static const int lines[8][3] = {{1, 0, WhiteRook}, {-1, 0, WhiteRook}, {0, 1, WhiteRook}, {0, -1, WhiteRook},
                                    {1, 1, WhiteBishop}, {1, -1, WhiteBishop}, {-1, 1, WhiteBishop}, {-1, -1, WhiteBishop}};
    for (auto& d : lines) {
        int f = file + d[0], r = row + d[1];
        while (OnBoard(f, r) && !mailbox[r * 8 + f]) f += d[0], r += d[1];
        if (is(f, r, d[2]) || is(f, r, WhiteQueen)) return true;
    }
    return false;
}

void SlowApply(PieceCode* mailbox, Move m, int mover) {
    PieceCode piece = mailbox[m.from];
    mailbox[m.from] = 0;
    if (m.kind == KindEnPassant) {
        mailbox[m.to + (mover == White ? 8 : -8)] = 0;
    } else if (m.kind == KindCastling) {
        bool kingSide = m.to > m.from;
        int corner = kingSide ? m.from + 3 : m.from - 4;
        mailbox[kingSide ? m.from + 1 : m.from - 1] = mailbox[corner];
        mailbox[corner] = 0;
    }
    mailbox[m.to] = (m.kind & 15) ? m.kind : piece;
}

void CheckBoard() {
    const PositionState* st = Board.CurrentState;
    Require(st >= Board.StateStack && st < Board.StateStack + StateStackSize, "current record outside the state stack");
    Bitboard bb[13] = {};
    Bitboard white = 0, black = 0;
    int kings[2] = {0, 0};
    for (int s = 0; s < 64; ++s) {
        PieceCode c = Board.Mailbox[s];
        Require(c <= BlackKing, "a mailbox entry that is no piece code");
        if (!c) continue;
        bb[c] |= SquareBit[s];
        (ColourOf(c) == White ? white : black) |= SquareBit[s];
        if (c == WhiteKing) ++kings[White];
        if (c == BlackKing) ++kings[Black];
        if (c == WhitePawn || c == BlackPawn) Require(RowOf(s) != 0 && RowOf(s) != 7, "a pawn on the first or last rank");
    }
    Require(Board.PieceBB[0] == 0, "piece bitboard 0 is not empty");
    for (int c = 1; c <= 12; ++c) Require(bb[c] == Board.PieceBB[c], "a piece bitboard disagrees with the mailbox");
    Require(white == Board.WhitePieces && black == Board.BlackPieces, "a colour set disagrees with the mailbox");
    Require(kings[White] == 1 && kings[Black] == 1, "not exactly one king of each colour");
    Require(Board.SideToMove <= 1, "side to move is neither 0 nor 1");
    Require(st->HashKey == FullHashKey(), "the key differs from the key computed from scratch");
    int theirKing = KingSquare(Board.SideToMove == White ? Black : White);
    Require(!SlowAttacked(Board.Mailbox, theirKing, Board.SideToMove), "the side not to move is in check");
    const PieceCode* m = Board.Mailbox;
    u8 r = st->CastleRights;
    Require(r < 16, "castling rights out of range");
    if (r & 3) Require(m[E1] == WhiteKing, "White castling rights without the king on e1");
    if (r & 2) Require(m[H1] == WhiteRook, "White king-side right without a rook on h1");
    if (r & 1) Require(m[A1] == WhiteRook, "White queen-side right without a rook on a1");
    if (r & 12) Require(m[E8] == BlackKing, "Black castling rights without the king on e8");
    if (r & 8) Require(m[H8] == BlackRook, "Black king-side right without a rook on h8");
    if (r & 4) Require(m[A8] == BlackRook, "Black queen-side right without a rook on a8");
    if (u8 ep = st->EpSquare) {
        Require(ep < 64 && !m[ep], "en-passant square off the board or occupied");
        if (Board.SideToMove == White)
            Require(RowOf(ep) == 2 && m[ep + 8] == BlackPawn && !m[ep - 8], "en-passant square without a Black double push");
        else
            Require(RowOf(ep) == 5 && m[ep - 8] == WhitePawn && !m[ep + 8], "en-passant square without a White double push");
    }
}

namespace {
bool InList(const MoveList& list, Move m) {
    for (const MoveSlot* s = list.slots; s < list.end; ++s)
        if (s->move == m) return true;
    return false;
}

bool Tactical(Move m) {
    bool queenPromotion = (m.kind & 15) == WhiteQueen || (m.kind & 15) == BlackQueen;
    if (IsPromotion(m)) return queenPromotion;
    return IsCapture(m);
}
}  // namespace

int CheckEveryMove() {
    const int us = Board.SideToMove, them = 1 - us;
    StoreCheckState();
    Require(Board.CurrentState->InCheck == SlowAttacked(Board.Mailbox, KingSquare(us), them),
            "the check test disagrees with the reference");
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    MoveList tactical;
    ClearMoveList(tactical);
    GenerateTactical(tactical);
    const bool full = MoveCount(list) == MaxMoves;  // a truncated list cannot be compared

    const Snapshot before = TakeSnapshot();
    int legal = 0;
    for (const MoveSlot* slot = list.slots; slot < list.end; ++slot) {
        const Move m = slot->move;
        Require(m.from < 64 && m.to < 64 && m.from != m.to, "a generated move with impossible squares");
        const PieceCode piece = Board.Mailbox[m.from];
        Require(piece && ColourOf(piece) == us, "a generated move that does not move a piece of the side to move");
        if (m.kind == KindEnPassant)
            Require(m.to == Board.CurrentState->EpSquare && m.captured == (us == White ? BlackPawn : WhitePawn),
                    "an en-passant move that does not take the pawn behind the en-passant square");
        else
            Require(m.captured == Board.Mailbox[m.to], "a generated move whose captured piece is not on its target");
        if (m.captured) Require(ColourOf(m.captured) == them, "a generated move that takes an own piece");
        Require(m.captured != WhiteKing && m.captured != BlackKing, "a generated move that takes a king");
        if (m.kind == KindCastling) {
            int step = m.to > m.from ? 1 : -1;
            Require(!SlowAttacked(Board.Mailbox, m.from, them) && !SlowAttacked(Board.Mailbox, m.from + step, them),
                    "castling out of or through an attacked square");
        }
        if (!full) Require(InList(tactical, m) == Tactical(m), "the tactical list is not the captures and queen promotions");

        PieceCode expected[64];
        std::memcpy(expected, Board.Mailbox, sizeof expected);
        SlowApply(expected, m, us);
        int ourKing = 0;
        for (int s = 0; s < 64; ++s)
            if (expected[s] == (us == White ? WhiteKing : BlackKing)) ourKing = s;
        const bool legalByReference = !SlowAttacked(expected, ourKing, them);

        const u64 nodes = NodeCount;
        const bool made = MakeMove(m);
        Require(made == legalByReference, "make and the reference disagree on a move's legality");
        if (made) {
            ++legal;
            Require(NodeCount == nodes + 1, "make did not count the position");
            Require(Board.CurrentState == before.current + 1, "make did not push one record");
            Require(std::memcmp(expected, Board.Mailbox, sizeof expected) == 0, "make placed the pieces wrongly");
            Require(Board.SideToMove == them, "make did not pass the move");
            CheckBoard();
            UnmakeMove(m);
        }
        Require(SameBoard(before, TakeSnapshot()), made ? "unmake did not restore the position" : "a refused move changed the position");

        const bool madeKnown = MakeMoveKnownCheck(m);
        Require(madeKnown == made, "the two makes disagree on a move's legality");
        if (madeKnown) {
            Require(Board.CurrentState->HashKey == FullHashKey(), "the known-check make kept a wrong key");
            UnmakeMove(m);
        }
        Require(SameBoard(before, TakeSnapshot()), "the known-check make or its unmake changed the position");

        char text[6];
        MoveToText(m, text);
        Require(TextToMove(text) == m, "a move's text does not parse back to the move");
    }
    if (!full)
        for (const MoveSlot* slot = tactical.slots; slot < tactical.end; ++slot)
            Require(InList(list, slot->move), "a tactical move that the full generator does not produce");
    Require(SameBoard(before, TakeSnapshot()), "checking the moves changed the position");
    return legal;
}
