// Development stand-in for the WebAssembly engine's module (same startVorna contract), used by
// tools/build-page.sh --stand-in until build-web/ has the real one. Never shipped: it answers UCI
// with a shallow capture-first choice and timing like Vorna's, nothing more.
import { Chess } from "chess.js";

export async function startVorna() {
  let game = new Chess();
  let timer = 0, ticker = 0, best = "", started = 0;
  const engine = { onLine: () => {} };
  const say = (line) => setTimeout(() => engine.onLine(line), 0);
  const finish = () => {
    clearTimeout(timer); clearInterval(ticker); timer = ticker = 0;
    say(`bestmove ${best}`);
  };
  engine.send = (line) => {
    const t = line.trim().split(/\s+/);
    if (t[0] === "uci") { say("id name Vorna stand-in UCI"); say("id author nobody"); say("uciok"); }
    else if (t[0] === "isready") say("readyok");
    else if (t[0] === "stop" && timer) finish();
    else if (timer) { /* dropped during a search, as Vorna does */ }
    else if (t[0] === "position") {
      const m = t.indexOf("moves");
      game = new Chess(t[1] === "fen" ? t.slice(2, m < 0 ? undefined : m).join(" ") : undefined);
      if (m >= 0) for (const mv of t.slice(m + 1)) game.move({ from: mv.slice(0, 2), to: mv.slice(2, 4), promotion: mv[4] });
    } else if (t[0] === "go") {
      const moves = game.moves({ verbose: true });
      const pick = moves.find((m) => m.san.includes("#")) || moves.find((m) => m.captured) ||
                   moves[Math.floor(Math.random() * moves.length)];
      best = pick ? pick.lan : "0000";
      started = performance.now();
      let depth = 0;
      ticker = setInterval(() => {
        const ms = Math.round(performance.now() - started);
        say(`info depth ${++depth} score cp ${pick && pick.captured ? 100 : 0} time ${ms} nodes ${ms * 1000} nps 1000000 pv ${best}`);
      }, 100);
      const i = t.indexOf("movetime"), w = t.indexOf(game.turn() === "w" ? "wtime" : "btime");
      const ms = i >= 0 ? Number(t[i + 1]) : w >= 0 ? Math.max(1, Number(t[w + 1]) / 15 - 300) : 1e9;
      timer = setTimeout(finish, ms);
    }
  };
  engine.terminate = () => { clearTimeout(timer); clearInterval(ticker); };
  return engine;
}
