#include "search/poll.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "frontend/console.h"
#include "moves/makemove.h"
#include "platform/platform.h"
#include "search/limits.h"

u64 NextPollNodes = 1024;
char PendingCommand[128];
u8 QuitRequested = 0;
u8 IgnoreInput = 0;

bool InputAvailable() { return InputWaiting(); }

namespace {
void KeepCommand(const char* line) {
    std::strncpy(PendingCommand, line, sizeof PendingCommand - 1);
    PendingCommand[sizeof PendingCommand - 1] = 0;
}
}  // namespace

bool PollInput() {
    // Once the search has been told to stop it only unwinds: the lines still waiting belong to the
    // protocol loop (a "position" and "go" sent right after "stop", a second xboard command after the
    // one kept in PendingCommand) and must not be read, dropped or overwritten here.
    if (StopSearch) return true;
    if (NodeCount < NextPollNodes) return false;
    while (!IgnoreInput && InputAvailable()) {
        char line[128];
        if (ReadInputLine(line, sizeof line) < 0) {
            // The interface is gone: end the search; the loop then ends the program.
            QuitRequested = 1;
            StopSearch = 1;
            return true;
        }
        LogInputLine(line);
        // Blanks around a command do not count, as in the protocol loops; an empty line, or one of
        // blanks only, is no command here either and must not end the search.
        char* command = line + std::strspn(line, " ");
        size_t length = std::strlen(command);
        while (length > 0 && command[length - 1] == ' ') command[--length] = 0;
        if (length == 0) continue;
        if (UciMode) {
            if (std::strcmp(command, "isready") == 0) {
                WriteReply("readyok\n", true);
            } else if (std::strcmp(command, "stop") == 0) {
                StopSearch = 1;
                return true;
            } else if (std::strcmp(command, "quit") == 0) {
                QuitRequested = 1;
                StopSearch = 1;
                return true;
            }
        } else if (AnalyzeMode) {
            if (strcasecmp(command, "exit") == 0) {
                AnalyzeMode = 0;
                return true;
            }
            KeepCommand(command);
            return true;
        } else {
            if (strcasecmp(command, "quit") == 0) {
                if (LogFile) std::fclose(LogFile);
                LogFile = nullptr;
                std::fflush(stdout);
                ExitProgram(0);
            }
            if (std::strcmp(command, "?") == 0) {
                StopSearch = 1;
                return true;
            }
            if (std::strcmp(command, "draw") == 0) continue;
            KeepCommand(command);
            return true;
        }
    }
    const SearchLimitsData& l = SearchLimits;
    if (l.HardLimit && TickCount() - l.StartTime >= l.HardLimit) return true;
    NextPollNodes = NodeCount + 1024;
    return false;
}
