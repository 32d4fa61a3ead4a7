// The page: a board (cm-chessboard), the rules and the game record (chess.js), and Vorna in a
// worker (vorna-engine.js, copied beside this bundle by the build).
import { Chessboard, COLOR, FEN, INPUT_EVENT_TYPE } from "cm-chessboard/src/Chessboard.js";
import { Markers, MARKER_TYPE } from "cm-chessboard/src/extensions/markers/Markers.js";
import { PromotionDialog, PROMOTION_DIALOG_RESULT_TYPE } from "cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js";
import { Accessibility } from "cm-chessboard/src/extensions/accessibility/Accessibility.js";
import { Chess } from "chess.js";
import { createUci } from "./uci.js";
import { checkFen } from "./fen.js";

const $ = (id) => document.getElementById(id);
const PROTOCOL_LINES = 400; // lines kept in the protocol panel

// --- game state -------------------------------------------------------------------------------

let game = new Chess();
let startFen = FEN.start;      // the position the game started from (a set-up one or the usual)
let userColor = "w";
let analysing = false;
let result = null;             // "1-0 {mate}" and the like once the game is over
let timeControl = readTimeControl();
let clocks = null;             // { w, b, running: "w" | "b" | null, since } in clock games
let clockTimer = 0;

let uci = null;                // the engine once it has answered; null before (or if it failed)
let search = null;             // handle of the search the page asked for
let engineThinking = false;    // a play search is running

// --- board -----------------------------------------------------------------------------------

const board = new Chessboard($("board"), {
  position: FEN.start,
  assetsUrl: "./assets/",
  style: { pieces: { file: "pieces/standard.svg" }, animationDuration: 150 },
  extensions: [
    { class: Markers, props: { autoMarkers: MARKER_TYPE.square } },
    { class: PromotionDialog, props: { language: "en" } },
    { class: Accessibility, props: { language: "en", keyboardMoveInput: true, movePieceForm: false,
                                      boardAsTable: false, piecesAsList: false } },
  ],
});
board.enableMoveInput(onBoardInput);

function userMayMove() {
  return !result && (analysing || (game.turn() === userColor && !engineThinking));
}

function onBoardInput(event) {
  switch (event.type) {
    case INPUT_EVENT_TYPE.moveInputStarted: {
      if (!userMayMove()) return false;
      const moves = game.moves({ square: event.squareFrom, verbose: true });
      if (moves.length === 0) return false;
      board.addLegalMovesMarkers(moves);
      return true;
    }
    case INPUT_EVENT_TYPE.validateMoveInput: {
      const moves = game.moves({ square: event.squareFrom, verbose: true })
        .filter((m) => m.to === event.squareTo);
      if (moves.length === 0) return false;
      if (moves.length > 1) { // a promotion: ask for the piece
        board.showPromotionDialog(event.squareTo, game.turn() === "w" ? COLOR.white : COLOR.black, (choice) => {
          if (choice && choice.type === PROMOTION_DIALOG_RESULT_TYPE.pieceSelected) {
            playUserMove({ from: event.squareFrom, to: event.squareTo, promotion: choice.piece.charAt(1) });
          } else {
            showPosition();
          }
        });
        return true;
      }
      // The board finishes its own move; the page sets the same position right after.
      queueMicrotask(() => playUserMove({ from: event.squareFrom, to: event.squareTo }));
      return true;
    }
    case INPUT_EVENT_TYPE.moveInputCanceled:
    case INPUT_EVENT_TYPE.moveInputFinished:
      board.removeLegalMovesMarkers();
      break;
  }
  return undefined;
}

function showPosition(animated = true) {
  board.setPosition(game.fen(), animated);
  board.removeMarkers(MARKER_TYPE.frame);
  board.removeLegalMovesMarkers(); // a move made with the keyboard on the board leaves them
  const last = game.history({ verbose: true }).at(-1);
  if (last) {
    board.addMarker(MARKER_TYPE.frame, last.from);
    board.addMarker(MARKER_TYPE.frame, last.to);
  }
}

// --- moves -----------------------------------------------------------------------------------

// A move typed as coordinates (e2e4, e7e8q, castling as the king's move) or in SAN (Nf3, O-O).
function parseMoveText(text) {
  const t = text.trim();
  const coords = /^([a-h][1-8])[-x]?([a-h][1-8])([qrbn])?$/i.exec(t);
  if (coords) {
    const [, from, to, promo] = coords;
    const moves = game.moves({ verbose: true }).filter((m) => m.from === from.toLowerCase() && m.to === to.toLowerCase());
    if (moves.length === 1) return moves[0];
    return moves.find((m) => m.promotion === (promo ? promo.toLowerCase() : "q")) || null;
  }
  try {
    return game.moves({ verbose: true }).find((m) => m.san === new Chess(game.fen()).move(t).san) || null;
  } catch {
    return null;
  }
}

function playUserMove(move) {
  if (!userMayMove()) return false;
  let played;
  try {
    played = game.move(move);
  } catch {
    played = null;
  }
  if (!played) { showPosition(false); return false; }
  chargeClock(played.color);
  afterMove();
  return true;
}

function playEngineMove(text, ms) {
  engineThinking = false;
  search = null;
  const from = text.slice(0, 2), to = text.slice(2, 4), promotion = text.slice(4, 5) || undefined;
  let played = null;
  try {
    played = game.move({ from, to, promotion });
  } catch {
    played = null;
  }
  if (!played) {
    setStatus(`Vorna answered "${text}", which is not a legal move here.`);
    return;
  }
  chargeClock(played.color);
  $("status").dataset.replyMs = String(Math.round(ms));
  afterMove(`Vorna played ${played.san} (${(ms / 1000).toFixed(2)} s).`);
}

function afterMove(note = "") {
  showPosition();
  result = gameResult();
  if (result) stopClock();
  refresh(note);
  engineTurn();
}

// The game's end in the words Vorna uses in xboard mode, or null while it goes on.
function gameResult() {
  const mover = game.turn();
  if (game.isCheckmate()) return mover === "w" ? "0-1 {mate}" : "1-0 {mate}";
  if (game.isStalemate()) return "1/2-1/2 {stalemate}";
  if (game.isThreefoldRepetition()) return "1/2-1/2 {repetition}";
  if (game.isDrawByFiftyMoves()) return "1/2-1/2 {50 moves}";
  if (game.isInsufficientMaterial()) return "1/2-1/2 {insufficient material}";
  return null;
}

// --- the engine's turn -----------------------------------------------------------------------

function positionCommand() {
  const moves = game.history({ verbose: true }).map((m) => m.lan);
  const base = startFen === FEN.start ? "position startpos" : `position fen ${startFen}`;
  return moves.length ? `${base} moves ${moves.join(" ")}` : base;
}

function cancelSearch() {
  if (search) search.cancel();
  search = null;
  engineThinking = false;
}

// Starts whatever the engine should be doing now: analysing, playing its move, or nothing.
function engineTurn() {
  cancelSearch();
  if (!uci) return;
  if (analysing) {
    clearThinking();
    search = uci.search(positionCommand(), "go infinite", showThinking, () => {});
  } else if (!result && game.turn() !== userColor) {
    engineThinking = true;
    startClock(game.turn());
    search = uci.search(positionCommand(), goCommand(), showThinking, playEngineMove);
  } else if (!result) {
    startClock(game.turn());
  }
  refresh();
}

function goCommand() {
  if (timeControl.kind === "move") return `go movetime ${timeControl.ms}`;
  const inc = timeControl.inc;
  return `go wtime ${Math.max(1, Math.round(clockLeft("w")))} btime ${Math.max(1, Math.round(clockLeft("b")))} winc ${inc} binc ${inc}`;
}

// --- clocks ----------------------------------------------------------------------------------

function readTimeControl() {
  const [kind, a, b] = $("time-control").value.split(":");
  return kind === "move" ? { kind, ms: Number(a) } : { kind, base: Number(a), inc: Number(b) };
}

function resetClocks() {
  stopClock();
  clocks = timeControl.kind === "clock" ? { w: timeControl.base, b: timeControl.base, running: null, since: 0 } : null;
  drawClocks();
}

function clockLeft(color) {
  if (!clocks) return 0;
  const running = clocks.running === color ? performance.now() - clocks.since : 0;
  return clocks[color] - running;
}

function startClock(color) {
  if (!clocks || analysing || result || clocks.running === color) return;
  stopClock();
  clocks.running = color;
  clocks.since = performance.now();
  clockTimer = setInterval(tickClock, 100);
}

function stopClock() {
  if (clockTimer) clearInterval(clockTimer);
  clockTimer = 0;
  if (clocks && clocks.running) {
    clocks[clocks.running] = clockLeft(clocks.running);
    clocks.running = null;
  }
}

// The mover's clock stops and gets its increment.
function chargeClock(color) {
  if (!clocks) return;
  if (clocks.running === color) stopClock();
  clocks[color] += timeControl.inc;
  drawClocks();
}

function tickClock() {
  const color = clocks.running;
  if (color && clockLeft(color) <= 0) {
    stopClock();
    clocks[color] = 0;
    cancelSearch();
    result = color === "w" ? "0-1 {White ran out of time}" : "1-0 {Black ran out of time}";
    refresh();
  }
  drawClocks();
}

function formatClock(ms) {
  const s = Math.max(0, Math.ceil(ms / 1000));
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
}

function drawClocks() {
  const top = $("clock-top"), bottom = $("clock-bottom");
  top.hidden = bottom.hidden = !clocks;
  if (!clocks) return;
  const bottomColor = board.getOrientation() === COLOR.white ? "w" : "b";
  const topColor = bottomColor === "w" ? "b" : "w";
  const label = (c) => `${c === "w" ? "White" : "Black"}${c === userColor ? " (you)" : " (Vorna)"} ${formatClock(clockLeft(c))}`;
  top.textContent = label(topColor);
  bottom.textContent = label(bottomColor);
  top.classList.toggle("running", clocks.running === topColor);
  bottom.classList.toggle("running", clocks.running === bottomColor);
}

// --- analysis display ------------------------------------------------------------------------

function clearThinking() {
  for (const id of ["an-depth", "an-score", "an-best", "an-nps"]) $(id).textContent = "–";
}

function showThinking(info) {
  if (info.depth !== undefined) $("an-depth").textContent = String(info.depth);
  // Scores come from the side to move's point of view; the page shows them from White's.
  const sign = game.turn() === "w" ? 1 : -1;
  if (info.scoreCp !== undefined) {
    const pawns = (sign * info.scoreCp) / 100;
    $("an-score").textContent = `${pawns > 0 ? "+" : ""}${pawns.toFixed(2)}`;
  } else if (info.scoreMate !== undefined) {
    const m = sign * info.scoreMate;
    $("an-score").textContent = m > 0 ? `White mates in ${m}` : `Black mates in ${-m}`;
  }
  if (info.nps !== undefined) $("an-nps").textContent = info.nps.toLocaleString("en");
  if (info.pv && info.pv.length) {
    const text = info.pv[0];
    let san = text;
    try {
      san = new Chess(game.fen()).move({ from: text.slice(0, 2), to: text.slice(2, 4), promotion: text.slice(4, 5) || undefined }).san;
    } catch { /* keep the coordinates */ }
    $("an-best").textContent = san === text ? text : `${san} (${text})`;
  }
}

// --- page state ------------------------------------------------------------------------------

function setStatus(text) {
  $("status").textContent = text;
}

function refresh(note = "") {
  const turn = game.turn() === "w" ? "White" : "Black";
  let text;
  if (!uci && !result) text = "Vorna is not running yet.";
  else if (result) text = `Game over: ${result}.`;
  else if (analysing) text = `Analysing (${turn} to move). Moves for either side are allowed.`;
  else if (engineThinking) text = "Vorna is thinking…";
  else text = `Your move (${turn}).`;
  if (game.isCheck() && !result) text = `Check. ${text}`;
  setStatus(note ? `${note} ${text}` : text);
  $("status").dataset.state = result ? "over" : !uci ? "starting" : analysing ? "analysing" : engineThinking ? "thinking" : "user";

  $("analyse").disabled = !uci || analysing || !!result;
  $("stop").disabled = !analysing;
  $("take-back").disabled = game.history().length === 0;
  $("move-input").disabled = !userMayMove();

  const list = $("moves");
  list.textContent = "";
  const history = game.history();
  const firstBlack = new Chess(startFen).turn() === "b";
  const plies = firstBlack ? ["…", ...history] : history;
  const firstNumber = Number(startFen.split(" ")[5] || 1);
  for (let i = 0; i < plies.length; i += 2) {
    const li = document.createElement("li");
    li.value = firstNumber + i / 2;
    li.textContent = plies.slice(i, i + 2).join(" ");
    list.appendChild(li);
  }
  list.scrollTop = list.scrollHeight;
  $("pgn").value = pgnText();
  drawClocks();
}

function pgnText() {
  const you = "You", vorna = uci ? uci.name : "Vorna";
  const today = new Date();
  game.setHeader("Event", "Vorna page game");
  game.setHeader("Site", "Vorna page");
  game.setHeader("Date", `${today.getFullYear()}.${String(today.getMonth() + 1).padStart(2, "0")}.${String(today.getDate()).padStart(2, "0")}`);
  game.setHeader("White", userColor === "w" ? you : vorna);
  game.setHeader("Black", userColor === "w" ? vorna : you);
  game.setHeader("Result", result ? result.split(" ")[0] : "*");
  if (startFen !== FEN.start) {
    game.setHeader("SetUp", "1");
    game.setHeader("FEN", startFen);
  }
  return game.pgn();
}

// --- commands --------------------------------------------------------------------------------

function newGame(fen = FEN.start) {
  cancelSearch();
  analysing = false;
  startFen = fen;
  game = new Chess(fen);
  timeControl = readTimeControl();
  resetClocks();
  result = gameResult();
  if (uci) uci.newGame();
  clearThinking();
  showPosition(false);
  refresh();
  engineTurn();
}

function takeBack() {
  if (game.history().length === 0) return;
  cancelSearch();
  stopClock();
  // In analysis one ply; in a game back to the user's last turn (Vorna's reply and the user's move).
  game.undo();
  if (!analysing && game.turn() !== userColor && game.history().length > 0) game.undo();
  result = gameResult();
  showPosition();
  refresh();
  engineTurn();
}

function flip() {
  board.setOrientation(board.getOrientation() === COLOR.white ? COLOR.black : COLOR.white, true);
  drawClocks();
}

function analyse() {
  if (!uci || result) return;
  stopClock();
  analysing = true;
  engineTurn();
}

function stop() {
  if (!analysing) return;
  cancelSearch();
  analysing = false;
  refresh("Analysis stopped.");
  engineTurn();
}

function setUpFen(text) {
  const checked = checkFen(text);
  if (checked.error) {
    $("fen-message").textContent = `Bad FEN: ${checked.error}. The game goes on unchanged.`;
    return;
  }
  $("fen-message").textContent = "";
  newGame(checked.fen);
}

async function copyPgn() {
  const text = pgnText();
  $("pgn").value = text;
  try {
    await navigator.clipboard.writeText(text);
    $("pgn-message").textContent = "The game is on the clipboard as PGN.";
  } catch {
    $("pgn").select();
    $("pgn-message").textContent = "The browser refused the clipboard: the PGN is selected below, copy it with Ctrl+C.";
  }
}

const protocolLines = [];
function logProtocol(direction, line) {
  protocolLines.push(direction === "out" ? `> ${line}` : line);
  if (protocolLines.length > PROTOCOL_LINES) protocolLines.splice(0, protocolLines.length - PROTOCOL_LINES);
  if ($("protocol").open) drawProtocol();
}

function drawProtocol() {
  const pre = $("protocol-lines");
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  pre.textContent = protocolLines.join("\n");
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

$("protocol").addEventListener("toggle", () => { drawProtocol(); $("protocol-lines").scrollTop = 1e9; });
$("new-game").addEventListener("click", () => newGame());
$("take-back").addEventListener("click", takeBack);
$("flip").addEventListener("click", flip);
$("analyse").addEventListener("click", analyse);
$("stop").addEventListener("click", stop);
$("copy-pgn").addEventListener("click", copyPgn);
$("side").addEventListener("change", () => {
  userColor = $("side").value;
  board.setOrientation(userColor === "w" ? COLOR.white : COLOR.black);
  if (!analysing) engineTurn();
  refresh();
});
// A new time control holds from the next move on; a clock starts afresh.
$("time-control").addEventListener("change", () => {
  timeControl = readTimeControl();
  resetClocks();
  if (!analysing) engineTurn();
  refresh();
});
$("fen-form").addEventListener("submit", (e) => { e.preventDefault(); setUpFen($("fen-input").value); });
$("move-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const text = $("move-input").value;
  const move = userMayMove() ? parseMoveText(text) : null;
  if (!move) {
    $("move-message").textContent = userMayMove() ? `"${text.trim()}" is not a legal move here.` : "It is not your move.";
    return;
  }
  $("move-message").textContent = "";
  $("move-input").value = "";
  playUserMove(move);
  $("move-input").focus();
});
document.addEventListener("keydown", (e) => {
  if (e.key === "Escape" && analysing) stop();
});

// --- start -----------------------------------------------------------------------------------

resetClocks();
refresh();

async function startEngine() {
  try {
    const { startVorna } = await import("./vorna-engine.js");
    const engine = await startVorna();
    const driver = createUci(engine, logProtocol);
    await driver.init();
    uci = driver;
    $("engine-name").textContent = `${uci.name}, in this browser tab`;
    refresh();
    engineTurn();
  } catch (error) {
    $("engine-name").textContent = "Vorna could not start";
    setStatus(`Vorna could not start: ${error && error.message ? error.message : error}`);
  }
}
startEngine();
