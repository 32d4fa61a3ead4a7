#include "board/fen.h"

#include <cstdio>
#include <cstring>

#include "board/attacks.h"

const char* SetBoardError = "";

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Keeps an en-passant square only where a double push can just have passed over it: on rank 6 with
// White to move (rank 3 with Black to move), empty, the pushed pawn in front of it and its start square
// empty. Anything else would let an en-passant capture remove a pawn that is not there.
u8 CheckedEpSquare(int file, int rankDigit) {
    if (file < 0 || file > 7 || rankDigit < 1 || rankDigit > 8) return 0;
    int s = (8 - rankDigit) * 8 + file;
    const PieceCode* m = Board.Mailbox;
    if (Board.SideToMove == White) {
        if (RowOf(s) != 2 || m[s] || m[s + 8] != BlackPawn || m[s - 8]) return 0;
    } else {
        if (RowOf(s) != 5 || m[s] || m[s - 8] != WhitePawn || m[s + 8]) return 0;
    }
    return u8(s);
}

// Drops every right whose king or rook is not on its home square.
u8 CheckedCastleRights(u8 rights) {
    const PieceCode* m = Board.Mailbox;
    if (m[E1] != WhiteKing) rights &= ~3;
    if (m[H1] != WhiteRook) rights &= ~2;
    if (m[A1] != WhiteRook) rights &= ~1;
    if (m[E8] != BlackKing) rights &= ~12;
    if (m[H8] != BlackRook) rights &= ~8;
    if (m[A8] != BlackRook) rights &= ~4;
    return rights;
}

const char* PlacementError() {
    const Bitboard* bb = Board.PieceBB;
    if (PopCount(bb[WhiteKing]) != 1 || PopCount(bb[BlackKing]) != 1) return "there must be exactly one king of each colour";
    if ((bb[WhitePawn] | bb[BlackPawn]) & 0xFF000000000000FFull) return "a pawn stands on the first or last rank";
    if (PopCount(Board.WhitePieces) > 16 || PopCount(Board.BlackPieces) > 16) return "a side has more than 16 pieces";
    bool otherInCheck = Board.SideToMove == White ? AttackedByWhite(KingSquare(Black)) : AttackedByBlack(KingSquare(White));
    if (otherInCheck) return "the side not to move is in check";
    return nullptr;
}

struct SavedPosition {
    PieceCode mailbox[64];
    Bitboard pieceBB[13];
    Bitboard white, black;
    u8 side;
    PositionState state0;
    PositionState* current;
};

void Save(SavedPosition& s) {
    std::memcpy(s.mailbox, Board.Mailbox, sizeof s.mailbox);
    std::memcpy(s.pieceBB, Board.PieceBB, sizeof s.pieceBB);
    s.white = Board.WhitePieces;
    s.black = Board.BlackPieces;
    s.side = Board.SideToMove;
    s.state0 = Board.StateStack[0];
    s.current = Board.CurrentState;
}

void Restore(const SavedPosition& s) {
    std::memcpy(Board.Mailbox, s.mailbox, sizeof s.mailbox);
    std::memcpy(Board.PieceBB, s.pieceBB, sizeof s.pieceBB);
    Board.WhitePieces = s.white;
    Board.BlackPieces = s.black;
    Board.SideToMove = s.side;
    Board.StateStack[0] = s.state0;
    Board.CurrentState = s.current;
}
}  // namespace

bool SetBoard(const char* text) {
    SavedPosition saved;
    Save(saved);

    PositionState* st = Board.StateStack;
    Board.CurrentState = st;
    st->HashKey = 0;
    std::memset(Board.Mailbox, 0, sizeof Board.Mailbox);
    std::memset(Board.PieceBB, 0, sizeof Board.PieceBB);
    Board.WhitePieces = Board.BlackPieces = 0;

    const char* p = text;
    while (IsBlank(*p)) ++p;

    // Placement: ranks are found by counting squares; slashes are optional, digits skip squares and
    // any other character stands for one empty square.
    for (int sq = 0; sq < 64 && *p; ++p) {
        char c = *p;
        if (c == '/') continue;
        if (c >= '0' && c <= '9') {
            sq += c - '0';
            continue;
        }
        const char* letter = std::strchr(PieceLetters + 1, c);
        if (letter && c) {
            PieceCode code = PieceCode(letter - PieceLetters);
            Board.Mailbox[sq] = code;
            Board.PieceBB[code] |= SquareBit[sq];
            (code <= WhiteKing ? Board.WhitePieces : Board.BlackPieces) |= SquareBit[sq];
            st->HashKey ^= PieceSquareKeys[code][sq];
        }
        ++sq;
    }

    // Each later field starts after one separator; further blanks are skipped. A text that ends early
    // leaves the remaining fields at their defaults: White to move, no castling, no en passant.
    auto nextField = [&p]() {
        if (*p) ++p;
        while (IsBlank(*p)) ++p;
    };
    nextField();
    Board.SideToMove = (*p == 'W' || *p == 'w' || *p == 0) ? White : Black;
    if (*p) ++p;
    if (Board.SideToMove == White) st->HashKey ^= SideKey;

    nextField();
    u8 rights = 0;
    for (; *p && !IsBlank(*p); ++p) {
        if (*p == 'K') rights |= 2;
        if (*p == 'Q') rights |= 1;
        if (*p == 'k') rights |= 8;
        if (*p == 'q') rights |= 4;
    }
    st->CastleRights = CheckedCastleRights(rights);
    st->HashKey ^= CastleKeys[st->CastleRights];

    nextField();
    st->EpSquare = 0;
    if (*p && *p != '-' && p[1]) st->EpSquare = CheckedEpSquare(p[0] - 'a', p[1] - '0');
    st->HashKey ^= EpKeys[st->EpSquare];

    if (const char* error = PlacementError()) {
        SetBoardError = error;
        Restore(saved);
        return false;
    }
    SetBoardError = "";
    // The set-up position is never an earlier occurrence for the repetition rules. Trimming a long game
    // can leave an ordinary move's record at the bottom of the stack, so this is written, not assumed.
    st->Reversible = 0;

    st->InCheck = Board.SideToMove == White ? AttackedByBlack(KingSquare(White)) : AttackedByWhite(KingSquare(Black));

    u64 incremental = st->HashKey;
    ComputeHashKey();
    if (incremental != st->HashKey) {
        std::fputs("ERROR: wrong HashKey in SetBoard()\n", stdout);
        std::fflush(stdout);
    }
    return true;
}

void FlipColours() {
    for (int i = 0; i < 32; ++i) {
        PieceCode t = Board.Mailbox[i];
        Board.Mailbox[i] = Board.Mailbox[Mirror[i]];
        Board.Mailbox[Mirror[i]] = t;
    }
    std::memset(Board.PieceBB, 0, sizeof Board.PieceBB);
    Board.WhitePieces = Board.BlackPieces = 0;
    for (int s = 0; s < 64; ++s) {
        PieceCode c = Board.Mailbox[s];
        if (!c) continue;
        if (c <= WhiteKing) {
            c = PieceCode(c + 6);
            Board.BlackPieces |= SquareBit[s];
        } else {
            c = PieceCode(c - 6);
            Board.WhitePieces |= SquareBit[s];
        }
        Board.Mailbox[s] = c;
        Board.PieceBB[c] |= SquareBit[s];
    }
    Board.SideToMove ^= 1;
    PositionState* st = Board.CurrentState;
    u8 r = st->CastleRights;
    st->CastleRights = u8(((r & 3) << 2) | ((r >> 2) & 3));
    // The en-passant square moves with the board.
    if (st->EpSquare) st->EpSquare = Mirror[st->EpSquare];
}
