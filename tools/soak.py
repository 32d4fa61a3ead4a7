#!/usr/bin/env python3
"""Soak test: many fast games of Vorna against itself, refereed move by move.

  tools/soak.py [--games N] [--jobs N] [--engine PATH] [--perft PATH] [--max-plies N] [--seed N]

Two engine processes play each other, each in UCI or xboard mode (the four pairings in turn), under
fast varying limits (UCI: go depth, go movetime, go with clocks; xboard: sd, level with time and
otim). Each game starts with a few random legal moves so that games differ. The referee keeps the
game itself and checks every move against the legal moves that vorna-perft (one process serving all
positions) lists for the position; it ends a game on mate, stalemate, threefold repetition, the
fifty-move rule, insufficient material or after --max-plies plies. An xboard engine must announce mate
and stalemate, and may announce a result only when the game has ended that way. The engines are
restarted every few games and must then exit with status 0 on "quit".

--jobs referees play that many games at once (default: one per processor), each with its own four
engine processes; game n is played the same way whichever job plays it.

Faults: a crash or any exit before "quit", any text on standard error (sanitizer reports), an
illegal or malformed move, a hang (no move within --move-timeout seconds), a wrong or missing result
announcement, an error message from the engine, a non-zero exit status. The run prints the games
played, the results and every fault, and exits non-zero when there was a fault.

By default it plays the sanitizer build (build-asan/Vorna_1_12_x64) and takes vorna-perft from the
first build directory that has one.
"""
import argparse
import os
import queue
import random
import re
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
MOVE = re.compile(r"[a-h][1-8][a-h][1-8][nbrq]?")
RESULT = re.compile(r"(1-0|0-1|1/2-1/2) \{(.*)\}")


class Fault(Exception):
    pass


# ---------------------------------------------------------------------------------------------------
# The referee's board: a mailbox indexed by (file, rank), rank 1..8.

class Board:
    def __init__(self, fen=START_FEN):
        fields = fen.split()
        self.sq = {}
        for i, row in enumerate(fields[0].split("/")):
            f = 0
            for c in row:
                if c.isdigit():
                    f += int(c)
                else:
                    self.sq[(f, 8 - i)] = c
                    f += 1
        self.white = fields[1] == "w"
        self.castling = fields[2] if fields[2] != "-" else ""
        self.ep = fields[3]
        self.halfmoves = int(fields[4]) if len(fields) > 4 else 0
        self.fullmoves = int(fields[5]) if len(fields) > 5 else 1

    def placement(self):
        rows = []
        for rank in range(8, 0, -1):
            row, empty = "", 0
            for f in range(8):
                p = self.sq.get((f, rank))
                if p is None:
                    empty += 1
                    continue
                row += (str(empty) if empty else "") + p
                empty = 0
            rows.append(row + (str(empty) if empty else ""))
        return "/".join(rows)

    def key(self):
        """What makes positions the same for repetition: placement, side, castling, en passant."""
        return (self.placement(), self.white, self.castling, self.ep)

    def fen(self):
        return "%s %s %s %s %d %d" % (self.placement(), "w" if self.white else "b", self.castling or "-",
                                      self.ep, self.halfmoves, self.fullmoves)

    def play(self, move):
        (f0, r0), (f1, r1) = square(move[0:2]), square(move[2:4])
        piece = self.sq.pop((f0, r0))
        captured = self.sq.pop((f1, r1), None)
        if piece in "Pp" and move[2:4] == self.ep:
            captured = self.sq.pop((f1, r0))
        if piece in "Kk" and abs(f1 - f0) == 2:
            rook_from, rook_to = (7, 5) if f1 == 6 else (0, 3)
            self.sq[(rook_to, r0)] = self.sq.pop((rook_from, r0))
        if len(move) == 5:
            piece = move[4].upper() if self.white else move[4]
        self.sq[(f1, r1)] = piece
        lost = {(4, 1): "KQ", (7, 1): "K", (0, 1): "Q", (4, 8): "kq", (7, 8): "k", (0, 8): "q"}
        for s in ((f0, r0), (f1, r1)):
            for right in lost.get(s, ""):
                self.castling = self.castling.replace(right, "")
        self.ep = "-"
        if piece in "Pp" and abs(r1 - r0) == 2:
            self.ep = move[0] + str((r0 + r1) // 2)
        self.halfmoves = 0 if piece in "Pp" or captured else self.halfmoves + 1
        if not self.white:
            self.fullmoves += 1
        self.white = not self.white

    def attacked(self, target, by_white):
        tf, tr = target
        own = str.isupper if by_white else str.islower
        def at(f, r, kinds):
            p = self.sq.get((f, r))
            return p is not None and own(p) and p.upper() in kinds
        for df, dr in ((1, 2), (2, 1), (2, -1), (1, -2), (-1, -2), (-2, -1), (-2, 1), (-1, 2)):
            if at(tf + df, tr + dr, "N"):
                return True
        for df in (-1, 0, 1):
            for dr in (-1, 0, 1):
                if (df or dr) and at(tf + df, tr + dr, "K"):
                    return True
        pawn_rank = tr - 1 if by_white else tr + 1
        if at(tf - 1, pawn_rank, "P") or at(tf + 1, pawn_rank, "P"):
            return True
        for df, dr, kinds in ((1, 0, "RQ"), (-1, 0, "RQ"), (0, 1, "RQ"), (0, -1, "RQ"),
                              (1, 1, "BQ"), (1, -1, "BQ"), (-1, 1, "BQ"), (-1, -1, "BQ")):
            f, r = tf + df, tr + dr
            while 0 <= f < 8 and 1 <= r <= 8 and (f, r) not in self.sq:
                f, r = f + df, r + dr
            if at(f, r, kinds):
                return True
        return False

    def in_check(self):
        king = "K" if self.white else "k"
        target = next(s for s, p in self.sq.items() if p == king)
        return self.attacked(target, not self.white)

    def insufficient(self):
        """No pawn, rook or queen, and at most a minor piece, or one bishop each on squares of one colour."""
        pieces = list(self.sq.items())
        if any(p.upper() in "PRQ" for _, p in pieces):
            return False
        if len(pieces) <= 3:
            return True
        if len(pieces) > 4:
            return False
        bishops = [(s, p) for s, p in pieces if p in "Bb"]
        if len(bishops) != 2 or bishops[0][1] == bishops[1][1]:
            return False
        return (sum(bishops[0][0]) % 2) == (sum(bishops[1][0]) % 2)


def square(text):
    return ord(text[0]) - ord("a"), int(text[1])


class Referee:
    """The legal moves of any position, from one vorna-perft process in its "moves" mode."""

    def __init__(self, perft):
        self.proc = subprocess.Popen([perft, "moves"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, bufsize=0)

    def legal_moves(self, fen):
        try:
            self.proc.stdin.write((fen + "\n").encode())
            line = self.proc.stdout.readline().decode()
        except (BrokenPipeError, OSError):
            line = ""
        if not line.endswith("\n"):
            raise Fault("vorna-perft ended while refereeing %s" % fen)
        if line.startswith("refused"):
            raise Fault("vorna-perft refused the referee's position %s: %s" % (fen, line.strip()))
        return set(line.split())

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


# ---------------------------------------------------------------------------------------------------
# Engine processes.

class Engine:
    def __init__(self, path, protocol, workdir, name):
        self.protocol, self.name = protocol, name
        # Through tools/launch, which runs a 32-bit program (--engine build-test/Vorna_1_12_w32) under
        # qemu-user where the kernel does not run it, and an ARM program under qemu-user always.
        self.proc = subprocess.Popen([os.path.join(ROOT, "tools", "launch"), os.path.abspath(path)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     cwd=workdir, bufsize=0)
        self.lines = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._read_out, daemon=True).start()
        self.err_thread = threading.Thread(target=self._read_err, daemon=True)
        self.err_thread.start()
        self.pings = 0
        self.in_game = False   # xboard: the engine plays its colour on its own
        self.moves_sent = 0    # xboard: plies of the game the engine has been told or played

    def _read_out(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("latin-1").rstrip("\r\n"))
        self.lines.put(None)

    def _read_err(self):
        for raw in self.proc.stderr:
            self.stderr.append(raw.decode("latin-1"))

    def send(self, *lines):
        try:
            self.proc.stdin.write("".join(l + "\n" for l in lines).encode("latin-1"))
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError):
            self.check_alive()
            raise Fault("%s: cannot write to the engine" % self.name)

    def check_alive(self):
        if self.proc.poll() is not None:
            raise Fault("%s exited with status %s during the game" % (self.name, self.proc.returncode))

    def read_until(self, pattern, timeout):
        """Lines up to and including the first that matches; fails on a hang or an exit."""
        deadline = time.monotonic() + timeout
        got = []
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=max(left, 0.01))
            except queue.Empty:
                if left <= 0:
                    raise Fault("%s: hang, no line matching %r within %.0f s (last lines %r)"
                                % (self.name, pattern, timeout, got[-5:]))
                continue
            if line is None:
                time.sleep(0.2)
                raise Fault("%s exited (status %s) while the referee waited for %r"
                            % (self.name, self.proc.poll(), pattern))
            got.append(line)
            for bad in ("Illegal move", "Error", "tellusererror", "info string", "ERROR"):  # never due here
                if line.startswith(bad):
                    raise Fault("%s: unexpected message %r" % (self.name, line))
            m = re.fullmatch(pattern, line)
            if m:
                return m, got

    def sync(self, timeout):
        if self.protocol == "uci":
            self.send("isready")
            return self.read_until("readyok", timeout)[1][:-1]
        self.pings += 1
        self.send("ping %d" % self.pings)
        return self.read_until("pong %d" % self.pings, timeout)[1][:-1]

    def quit(self):
        try:
            self.send("quit")
        except Fault:
            pass
        try:
            status = self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Fault("%s did not exit within 30 s of quit" % self.name)
        self.err_thread.join(5)
        if status != 0:
            raise Fault("%s exited with status %d after quit" % (self.name, status))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def start_engine(path, protocol, workdir, name, timeout):
    e = Engine(path, protocol, workdir, name)
    if protocol == "uci":
        e.send("uci")
        e.read_until("uciok", timeout)
    else:
        e.send("xboard", "protover 2")
        e.read_until("feature done=1", timeout)
    return e


# ---------------------------------------------------------------------------------------------------
# One game.

def centiseconds(ms):
    return max(ms // 10, 1)


def check_announcements(players, board, verdict, reason, seen, timeout):
    """What each xboard engine has said since its last move: a result line only at the end of the game,
    and the right one; mate and stalemate must be announced."""
    for colour, e in players.items():
        if e.protocol != "xboard":
            continue
        on_move = e.in_game and board.white == colour
        if on_move and verdict is None:
            continue  # thinking: whatever it says comes with its move
        if on_move:
            e.send("new")  # ends a search that it started without writing its move
        lines = e.sync(timeout)
        if on_move:
            # a search that ended just before "new" arrived: its move lies beyond the game
            moved = [i for i, line in enumerate(lines) if line.startswith("move ")]
            lines = lines[:moved[0]] if moved else lines
        said = [m for m in map(RESULT.fullmatch, lines) if m]
        if said and verdict is None:
            raise Fault("%s announced %r but the game goes on (%s)" % (e.name, said[0].group(0), board.fen()))
        for m in said:
            result, why = m.group(1), m.group(2)
            if reason in ("mate", "stalemate") and (result, why) != (verdict, reason):
                raise Fault("%s announced %r, the game ended in %s %s" % (e.name, m.group(0), verdict, reason))
            if result != verdict:
                raise Fault("%s announced %r after a draw by %s" % (e.name, m.group(0), reason))
            if why == "repetition" and seen[board.key()] < 3:
                raise Fault("%s claimed a repetition that did not happen (%s)" % (e.name, board.fen()))
            if why == "50 moves" and board.halfmoves < 100:
                raise Fault("%s claimed the fifty-move rule early (%s)" % (e.name, board.fen()))
            if why == "insufficient material" and not board.insufficient():
                raise Fault("%s claimed insufficient material (%s)" % (e.name, board.fen()))
        if reason in ("mate", "stalemate") and not said:
            raise Fault("%s did not announce the %s (%s)" % (e.name, reason, board.fen()))


def play_game(players, referee, rng, args, stats):
    """players: {True: White's engine, False: Black's}. Returns (result, reason, plies)."""
    board = Board()
    moves = []
    seen = {board.key(): 1}
    clock = {True: 3000, False: 3000}
    limits = {}
    for colour, e in players.items():
        if e.protocol == "uci":
            e.send("ucinewgame")
            limits[colour] = rng.choice(["depth 2", "depth 3", "depth 4", "movetime 10", "movetime 30", "clock"])
        else:
            limits[colour] = rng.choice(["sd 2", "sd 3", "sd 4", "clock"])
            e.send("new", "force", "post" if rng.random() < 0.5 else "nopost")
            e.send(limits[colour] if limits[colour] != "clock" else "level 0 0:03 0.05")
            e.in_game = False
            e.moves_sent = 0
    opening = rng.randint(2, 8)

    def verdict_now():
        """The referee's verdict on the position after the last move, and the legal moves."""
        legal = referee.legal_moves(board.fen())
        if not legal:
            if board.in_check():
                return ("0-1" if board.white else "1-0"), "mate", legal
            return "1/2-1/2", "stalemate", legal
        if seen[board.key()] >= 3:
            return "1/2-1/2", "repetition", legal
        if board.halfmoves >= 100:
            return "1/2-1/2", "50 moves", legal
        if board.insufficient():
            return "1/2-1/2", "insufficient material", legal
        if len(moves) >= args.max_plies:
            return "1/2-1/2", "adjudicated", legal
        return None, None, legal

    verdict, reason, legal = verdict_now()
    while verdict is None:
        colour = board.white
        e = players[colour]
        if len(moves) < opening:
            move = rng.choice(sorted(legal))  # the xboard engines hear of it as an opponent's move
        else:
            started = time.monotonic()
            if e.protocol == "uci":
                if rng.random() < 0.8:
                    e.send("position startpos moves " + " ".join(moves))
                else:
                    e.send("position fen " + board.fen())
                if limits[colour] == "clock":
                    e.send("go wtime %d btime %d winc 50 binc 50" % (clock[True], clock[False]))
                else:
                    e.send("go " + limits[colour])
                move = e.read_until(r"bestmove (\S+)", args.move_timeout)[0].group(1)
            else:
                if not e.in_game:
                    if limits[colour] == "clock":
                        e.send("time %d" % centiseconds(clock[colour]), "otim %d" % centiseconds(clock[not colour]))
                    e.send("go")
                    e.in_game = True
                m = e.read_until(r"move (\S+)|((1-0|0-1|1/2-1/2) \{.*\})", args.move_timeout)[0]
                if m.group(2):
                    raise Fault("%s announced %r but the game goes on (%s)" % (e.name, m.group(2), board.fen()))
                move = m.group(1)
                e.moves_sent += 1
            clock[colour] += 50 - int((time.monotonic() - started) * 1000)
            if clock[colour] <= 0:
                stats["overruns"] += 1
                clock[colour] = 1
            if not MOVE.fullmatch(move):
                raise Fault("%s played a malformed move %r" % (e.name, move))
            if move not in legal:
                raise Fault("%s played the illegal move %s in %s" % (e.name, move, board.fen()))
        # Every xboard engine that has not made the move hears of it; one that plays on its own is given
        # its clock first, as an interface does.
        for c, other in players.items():
            if other.protocol == "xboard" and other.moves_sent == len(moves):
                if other.in_game and limits[c] == "clock":
                    other.send("time %d" % centiseconds(clock[c]), "otim %d" % centiseconds(clock[not c]))
                other.send(move)
                other.moves_sent += 1
        moves.append(move)
        board.play(move)
        seen[board.key()] = seen.get(board.key(), 0) + 1
        verdict, reason, legal = verdict_now()
        check_announcements(players, board, verdict, reason, seen, args.move_timeout)
    for e in set(players.values()):
        if e.protocol == "xboard":
            e.send("force")
            e.sync(args.move_timeout)
    return verdict, reason, len(moves)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--games", type=int, default=20)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="games played at once")
    parser.add_argument("--engine", default=os.path.join(ROOT, "build-asan", "Vorna_1_12_x64"))
    parser.add_argument("--perft", default=None)
    parser.add_argument("--max-plies", type=int, default=160)
    parser.add_argument("--restart-every", type=int, default=4, help="games per set of engine processes")
    parser.add_argument("--move-timeout", type=float, default=60.0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    perft = args.perft
    if perft is None:
        for d in ("build-asan", "build-test", "build"):
            candidate = os.path.join(ROOT, d, "vorna-perft")
            if os.path.exists(candidate):
                perft = candidate
                break
    if not perft or not os.path.exists(args.engine):
        print("soak: need %s and a vorna-perft (build the sanitizer build first)" % args.engine)
        return 2

    workdir = os.path.join(os.path.dirname(os.path.abspath(args.engine)), "soak")
    pairings = [("uci", "uci"), ("uci", "xboard"), ("xboard", "uci"), ("xboard", "xboard")]
    lock = threading.Lock()
    faults, results = [], {}
    stats = {"overruns": 0, "plies": 0, "restarts": 0}
    started = time.monotonic()

    def report(text, fault=None):
        with lock:
            if fault:
                faults.append(fault)
            print(text, flush=True)

    def run_job(job):
        """Plays the blocks of --restart-every games that fall to this job, each block with four fresh
        engine processes (in a working directory of the job's own, for the logs)."""
        jobdir = os.path.join(workdir, str(job))
        os.makedirs(jobdir, exist_ok=True)
        referee = Referee(perft)
        local = {"overruns": 0, "plies": 0, "restarts": 0}
        engines = {}

        def stop_all(check):
            for e in engines.values():
                try:
                    if check:
                        e.quit()
                    else:
                        e.kill()
                except Fault as f:
                    report(" - %s" % f, str(f))
                if e.stderr:
                    text = "%s wrote to standard error:\n%s" % (e.name, "".join(e.stderr)[-3000:])
                    report(" - " + text, text)
            engines.clear()

        blocks = (args.games + args.restart_every - 1) // args.restart_every
        for block in range(job, blocks, args.jobs):
            first = block * args.restart_every + 1
            for game in range(first, min(first + args.restart_every, args.games + 1)):
                if not engines:
                    local["restarts"] += 1
                    try:
                        for protocol in ("uci", "xboard"):
                            for n in (1, 2):
                                name = "%s-%d" % (protocol, n)
                                engines[name] = start_engine(args.engine, protocol, jobdir, name, args.move_timeout)
                    except Fault as f:
                        report("game %3d  FAULT: start: %s" % (game, f), "game %d: start: %s" % (game, f))
                        stop_all(False)
                        continue
                white_protocol, black_protocol = pairings[(game - 1) % 4]
                players = {True: engines[white_protocol + "-1"], False: engines[black_protocol + "-2"]}
                rng = random.Random(args.seed * 1000003 + game)
                try:
                    verdict, reason, plies = play_game(players, referee, rng, args, local)
                    local["plies"] += plies
                    with lock:
                        key = "%s %s" % (verdict, reason)
                        results[key] = results.get(key, 0) + 1
                    report("game %4d  %-6s vs %-6s  %-7s  %-28s %3d plies" % (game, white_protocol, black_protocol,
                                                                           verdict, reason, plies))
                except Fault as f:
                    report("game %4d  FAULT: %s" % (game, f),
                           "game %d (%s vs %s): %s" % (game, white_protocol, black_protocol, f))
                    stop_all(False)
            stop_all(True)
        referee.close()
        with lock:
            for k, v in local.items():
                stats[k] += v

    jobs = [threading.Thread(target=run_job, args=(j,)) for j in range(max(args.jobs, 1))]
    for t in jobs:
        t.start()
    for t in jobs:
        t.join()

    elapsed = time.monotonic() - started
    load = "load %.2f %.2f %.2f" % os.getloadavg()
    print("soak: %d games, %d plies in %.0f s with %d jobs (%s); %s" % (
        args.games, stats["plies"], elapsed, max(args.jobs, 1), load,
        ", ".join("%s: %d" % kv for kv in sorted(results.items()))))
    print("soak: %d engine starts, %d moves past the clock (not counted as faults)" % (stats["restarts"] * 4,
          stats["overruns"]))
    if faults:
        print("soak: %d FAULTS" % len(faults))
        for f in faults:
            print(" -", f)
        return 1
    print("soak: no faults")
    return 0


if __name__ == "__main__":
    sys.exit(main())
