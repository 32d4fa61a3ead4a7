#include "frontend/xboard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "board/attacks.h"
#include "board/fen.h"
#include "frontend/console.h"
#include "frontend/gameend.h"
#include "frontend/identity.h"
#include "moves/makemove.h"
#include "moves/notation.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

u8 ForceMode = 1;
u8 EngineColour = Black;
Move GameHistory[1024];
u16 GameHistoryCount = 0;

namespace {
// The game as it stood before the last change of side by decree ("white"/"black"), kept while nothing
// else has happened to the position since. xboard's colour idioms change the side and straight back
// ("black", "time", "otim", "white", "go" with White on move): the second change restores the game as
// it was, its en-passant square and the moves that can be taken back included.
struct SavedGame {
    bool valid;
    u64 changedKey;  // the key the change left; a position with another key is no longer the one it left
    int records;     // StateStack[0 .. records - 1] as they were
    u16 historyCount;
    PositionState stack[StateStackSize];
};
SavedGame BeforeSideChange;

// Plays a move of the game and records it. Old records are dropped from the bottom of the state stack
// (and the matching moves from the history) before it fills up; a long game goes on, only its oldest
// moves can no longer be taken back.
bool PlayGameMove(Move m) {
    BeforeSideChange.valid = false;
    int dropped = TrimGameStack();
    if (dropped) {
        GameHistoryCount = u16(GameHistoryCount - dropped);
        std::memmove(GameHistory, GameHistory + dropped, sizeof(Move) * GameHistoryCount);
    }
    if (!MakeMove(m)) return false;
    GameHistory[GameHistoryCount++] = m;
    return true;
}

void TakeBack() {
    BeforeSideChange.valid = false;
    --GameHistoryCount;
    UnmakeMove(GameHistory[GameHistoryCount]);
}

void NewGameState() {
    BeforeSideChange.valid = false;
    SearchLimits.MaxDepth = 100;
    GameHistoryCount = 0;
}

// "white"/"black": the side to move changes by decree. The position starts afresh from there (key
// recomputed, no en-passant square, no moves to take back), so nothing can later be unmade with the
// wrong colour's unmake. A change that would leave the king of the side not to move in check is refused.
// A change straight back takes the first one back instead (see BeforeSideChange).
bool SetSideToMove(u8 side) {
    if (Board.SideToMove == side) return true;
    SavedGame& saved = BeforeSideChange;
    if (saved.valid && StateIndex() == 0 && Board.CurrentState->HashKey == saved.changedKey) {
        std::memcpy(Board.StateStack, saved.stack, sizeof(PositionState) * size_t(saved.records));
        Board.CurrentState = Board.StateStack + (saved.records - 1);
        Board.SideToMove = side;
        GameHistoryCount = saved.historyCount;
        saved.valid = false;
        return true;
    }
    bool exposed = side == White ? AttackedByWhite(KingSquare(Black)) : AttackedByBlack(KingSquare(White));
    if (exposed) return false;
    saved.records = StateIndex() + 1;
    std::memcpy(saved.stack, Board.StateStack, sizeof(PositionState) * size_t(saved.records));
    saved.historyCount = GameHistoryCount;
    saved.valid = true;
    PositionState current = *Board.CurrentState;
    Board.StateStack[0] = current;
    Board.CurrentState = Board.StateStack;
    Board.SideToMove = side;
    PositionState* st = Board.CurrentState;
    st->EpSquare = 0;
    st->Reversible = 0;
    ComputeHashKey();
    saved.changedKey = st->HashKey;
    st->InCheck = SideToMoveInCheck();
    GameHistoryCount = 0;
    return true;
}

void EngineMoves() {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    if (HasNoLegalMove()) {
        CheckGameEnd();
        ForceMode = 1;
        return;
    }
    Move m = SearchBestMove();
    if (strcasecmp(PendingCommand, "new") == 0) return;
    char text[6], line[32];
    MoveToText(m, text);
    std::snprintf(line, sizeof line, "move %s\n", text);
    WriteReply(line, true);
    PlayGameMove(m);
    SearchLimitsData& l = SearchLimits;
    if (l.MovesToGo && --l.MovesToGo == 0) l.MovesToGo = l.MovesPerSession;
    if (CheckGameEnd()) ForceMode = 1;
}

void OpponentMove(const char* text) {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    Move m = TextToMove(text);
    if (m == NullMove || !PlayGameMove(m)) {
        char line[600];
        std::snprintf(line, sizeof line, "Illegal move: %s\n", text);
        WriteReply(line, true);
        return;
    }
    if (CheckGameEnd()) ForceMode = 1;
}
}  // namespace

void XboardLoop() {
    XboardMode = 1;
    OpenLogFile("_wb");
    static char line[512];
    for (;;) {
        if (!ForceMode && EngineColour == Board.SideToMove) EngineMoves();
        if (AnalyzeMode && !PendingCommand[0]) SearchBestMove();
        if (QuitRequested) return;  // the input ended during the search

        if (PendingCommand[0]) {
            // logged when the search read it
            std::strcpy(line, PendingCommand);
            PendingCommand[0] = 0;
        } else if (ReadCommandLine(line, sizeof line) < 0) {
            return;
        }
        Tokenizer t{line};
        char* command = NextToken(t, " ");
        if (!command) continue;
        auto is = [command](const char* word) { return std::strcmp(command, word) == 0; };
        SearchLimitsData& l = SearchLimits;

        if (is("quit")) {
            return;
        } else if (is("protover")) {
            WriteReply("feature myname=\"" VORNA_NAME "\"\n"
                       "feature ping=1\nfeature setboard=1\nfeature playother=1\nfeature draw=0\n"
                       "feature analyze=1\nfeature variants=\"normal\"\nfeature name=0\nfeature done=1\n",
                       false);
        } else if (is("new")) {
            SetBoard(StartFen);
            NewGameState();
            if (!AnalyzeMode) ForceMode = 0;
            EngineColour = Black;
        } else if (is("setboard")) {
            char* fen = NextToken(t, "");
            if (!fen || !SetBoard(fen)) {
                WriteReply("tellusererror Illegal position\n", true);
                continue;
            }
            // Force mode stays as it was: xboard sends "force" before "setboard" and then moves in
            // force mode, up to the "go" (or "playother") that tells the engine which side it plays.
            // Leaving it here would make the engine answer the first of those moves itself.
            NewGameState();
            EngineColour = u8(Board.SideToMove ^ 1);
        } else if (is("force")) {
            ForceMode = 1;
        } else if (is("white") || is("black")) {
            u8 side = is("white") ? White : Black;
            if (!SetSideToMove(side)) {
                char reply[64];
                std::snprintf(reply, sizeof reply, "Error (illegal position): %s\n", command);
                WriteReply(reply, true);
                continue;
            }
            EngineColour = u8(side ^ 1);
        } else if (is("playother")) {
            ForceMode = 0;
            EngineColour = u8(Board.SideToMove ^ 1);
        } else if (is("level")) {
            l.MoveTime = 0;
            // Out-of-range values are held at the ends of the ranges rather than wrapped: a negative
            // move count is none (sudden death), an enormous increment the largest the clock holds.
            long long moves = ReadNumber(NextToken(t, " "));
            l.MovesPerSession = l.MovesToGo = moves <= 0 ? 0u : moves > 0xFFFFFFFFll ? 0xFFFFFFFFu : u32(moves);
            NextToken(t, " ");  // base time
            l.Increment = ReadSeconds(NextToken(t, " "));
        } else if (is("st")) {
            // Seconds, fractions included: clients send "st 0.5" for half a second a move.
            l.MoveTime = ReadSeconds(NextToken(t, " "));
        } else if (is("sd")) {
            l.MaxDepth = DepthLimit(ReadNumber(NextToken(t, " ")));
        } else if (is("time")) {
            // A clock at or below zero means the flag is about to fall: move at once.
            long long cs = ReadNumber(NextToken(t, " "));
            l.TimeLeft = cs <= 0 ? 1u : cs > 400000000ll ? 4000000000u : u32(cs * 10);
        } else if (is("go")) {
            ForceMode = 0;
            EngineColour = Board.SideToMove;
        } else if (is("undo")) {
            if (GameHistoryCount >= 1) TakeBack();
        } else if (is("remove")) {
            if (GameHistoryCount >= 2) {
                TakeBack();
                TakeBack();
                if (l.MovesToGo && ++l.MovesToGo > l.MovesPerSession) l.MovesToGo = 1;
            }
        } else if (is("hard") || is("easy")) {
        } else if (is("post")) {
            PostThinking = 1;
        } else if (is("nopost")) {
            PostThinking = 0;
        } else if (is("ping")) {
            const char* arg = NextToken(t, " ");
            char reply[600];
            std::snprintf(reply, sizeof reply, "pong %s\n", arg ? arg : "");
            WriteReply(reply, true);
        } else if (is("analyze")) {
            AnalyzeMode = 1;
            ForceMode = 1;
        } else if (is("exit")) {
            // leaves an analysis that had already ended by itself
            AnalyzeMode = 0;
        } else if (is("random") || is("hint") || is("bk") || is("result") || is("otim") || is("computer") ||
                   is("accepted") || is("rejected") || is("draw")) {
        } else if (is("?") || is(".")) {
            // "move now" and the analysis status request, arriving just after the search they were
            // meant for has ended: nothing to do, and no "Illegal move" that the interface could take
            // for the refusal of its last move
        } else {
            OpponentMove(command);
        }
    }
}
