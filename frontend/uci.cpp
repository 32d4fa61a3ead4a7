#include "frontend/uci.h"

#include <cstdio>
#include <cstring>

#include "board/fen.h"
#include "frontend/console.h"
#include "frontend/identity.h"
#include "moves/makemove.h"
#include "moves/notation.h"
#include "platform/platform.h"
#include "search/limits.h"
#include "search/poll.h"
#include "search/search.h"

namespace {
void Info(const char* what, const char* detail) {
    char line[256];
    std::snprintf(line, sizeof line, "info string %s%.180s\n", what, detail);
    WriteReply(line, true);
}

// "position [startpos | fen <text>] [moves <m1> <m2> ...]"
void Position(Tokenizer& t) {
    char* token = NextToken(t, " ");
    if (token && std::strcmp(token, "fen") == 0) {
        // The position text runs up to the "m" of "moves": no FEN contains that letter.
        char* fen = NextToken(t, "m");
        if (!fen || !SetBoard(fen)) {
            Info("position refused, previous position kept: ", fen ? SetBoardError : "no position text");
            return;
        }
    } else {
        SetBoard(StartFen);
    }
    NextToken(t, " ");  // "moves", or what is left of it after the "m"
    while (char* text = NextToken(t, " ")) {
        TrimGameStack();
        Board.CurrentState->InCheck = SideToMoveInCheck();
        Move m = TextToMove(text);
        // A move that cannot be played ends the list: the moves after it belong to another position.
        if (m == NullMove || !MakeMove(m)) {
            Info("illegal move, the moves from here on are ignored: ", text);
            return;
        }
    }
}

// Waits for "stop" or "quit" after a "go infinite" search that ended by itself, answering "isready".
void WaitForStop() {
    char line[8192];
    for (;;) {
        if (ReadCommandLine(line, sizeof line) < 0) {
            QuitRequested = 1;
            return;
        }
        if (std::strcmp(line, "isready") == 0) WriteReply("readyok\n", true);
        if (std::strcmp(line, "stop") == 0) return;
        if (std::strcmp(line, "quit") == 0) {
            QuitRequested = 1;
            return;
        }
    }
}

// A clock value or a time for the move: one at or below zero means the move must be instant.
u32 ClockValue(const char* token) {
    long long v = ReadNumber(token);
    return v <= 0 ? 1u : v > 0xFFFFFFFFll ? 0xFFFFFFFFu : u32(v);
}
u32 PlainValue(const char* token) {
    long long v = ReadNumber(token);
    return v <= 0 ? 0u : v > 0xFFFFFFFFll ? 0xFFFFFFFFu : u32(v);
}

void Go(Tokenizer& t) {
    SearchLimitsData& l = SearchLimits;
    l.TimeLeft = l.Increment = l.MovesToGo = l.MoveTime = 0;
    l.MaxDepth = 100;
    bool infinite = false;
    const bool white = Board.SideToMove == White;
    while (char* token = NextToken(t, " ")) {
        if (std::strcmp(token, "wtime") == 0 && white)
            l.TimeLeft = ClockValue(NextToken(t, " "));
        else if (std::strcmp(token, "winc") == 0 && white)
            l.Increment = PlainValue(NextToken(t, " "));
        else if (std::strcmp(token, "btime") == 0 && !white)
            l.TimeLeft = ClockValue(NextToken(t, " "));
        else if (std::strcmp(token, "binc") == 0 && !white)
            l.Increment = PlainValue(NextToken(t, " "));
        else if (std::strcmp(token, "movestogo") == 0)
            l.MovesToGo = PlainValue(NextToken(t, " "));
        else if (std::strcmp(token, "depth") == 0)
            l.MaxDepth = DepthLimit(ReadNumber(NextToken(t, " ")));
        else if (std::strcmp(token, "movetime") == 0)
            l.MoveTime = ClockValue(NextToken(t, " "));  // 0 would read as no limit at all
        else if (std::strcmp(token, "infinite") == 0)
            infinite = true;
    }
    Move best = SearchBestMove();
    // Under "go infinite" the reply may only follow "stop", even when the search has ended by itself.
    if (infinite && !StopSearch && !QuitRequested) WaitForStop();
    char text[6] = "0000";
    if (best != NullMove) MoveToText(best, text);
    char line[32];
    std::snprintf(line, sizeof line, "bestmove %s\n", text);
    WriteReply(line, true);
}
}  // namespace

void UciLoop() {
    UciMode = 1;
    WriteReply("id name " VORNA_NAME " UCI\nid author Vesterov\nuciok\n", false);
    OpenLogFile("_uci");
    static char line[8192];
    while (!QuitRequested) {
        if (ReadCommandLine(line, sizeof line) < 0) return;
        Tokenizer t{line};
        char* command = NextToken(t, " ");
        if (!command) continue;
        if (std::strcmp(command, "quit") == 0) return;
        if (std::strcmp(command, "isready") == 0)
            WriteReply("readyok\n", true);
        else if (std::strcmp(command, "position") == 0) {
            // Moves beyond the buffer are lost; say so, since the position may then not be the game's.
            if (InputLineWasCut()) Info("position line too long, cut after 8191 characters", "");
            Position(t);
        }
        else if (std::strcmp(command, "go") == 0)
            Go(t);
        // "debug", "setoption", "ucinewgame" and every unknown command: nothing.
    }
}
