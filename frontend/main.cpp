// Program entry: banner, tables, start position, then the first word on standard input picks the mode.
#include <cstdio>
#include <strings.h>

#include "board/attacks.h"
#include "board/fen.h"
#include "frontend/identity.h"
#include "frontend/uci.h"
#include "frontend/xboard.h"
#include "moves/perft.h"
#include "platform/platform.h"
#include "search/search.h"

int main() {
    PreparePlatform();
    std::fputs(VORNA_NAME "\n(c) the Vorna developers; a free chess engine for UCI and xboard interfaces\n",
               stdout);
    std::fflush(stdout);
    InitTables();
    InitZobrist();
    SetBoard(StartFen);
    PrepareTransTable();

    char modeWord[32];
    if (ReadInputWord(modeWord, sizeof modeWord) >= 0) {
        if (strcasecmp(modeWord, "xboard") == 0)
            XboardLoop();
        else if (strcasecmp(modeWord, "uci") == 0)
            UciLoop();
        else if (strcasecmp(modeWord, "perft") == 0)
            PerftSuite();
    }
    // Ended through exit rather than by returning: where main may have been paused and resumed (the
    // WebAssembly engine whose input comes as messages), nothing is left to receive its return value.
    ExitProgram(0);
}
