// The page: draws the game of game.js (board by cm-chessboard, move list, clocks, analysis) and
// forwards what the user does to it. Vorna runs in a worker (vorna-engine.js, beside this bundle).
import { Chessboard, COLOR, INPUT_EVENT_TYPE } from "cm-chessboard/src/Chessboard.js";
import { Markers, MARKER_TYPE } from "cm-chessboard/src/extensions/markers/Markers.js";
import { Arrows, ARROW_TYPE } from "cm-chessboard/src/extensions/arrows/Arrows.js";
import { PromotionDialog, PROMOTION_DIALOG_RESULT_TYPE } from "cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js";
import { Accessibility } from "cm-chessboard/src/extensions/accessibility/Accessibility.js";
import { createGame, formatScore, START_FEN } from "./game.js";

const $ = (id) => document.getElementById(id);
const PROTOCOL_LINES = 400; // lines kept in the protocol panel

async function launchVorna() {
  const { startVorna } = await import("./vorna-engine.js");
  return startVorna();
}

// localStorage, read only when the game asks: a page that may not use it (some browsers' file:// pages,
// private modes) gets a notice from the game instead of an error here.
const storage = {
  getItem: (key) => window.localStorage.getItem(key),
  setItem: (key, value) => window.localStorage.setItem(key, value),
  removeItem: (key) => window.localStorage.removeItem(key),
};

const game = createGame({ startEngine: launchVorna, storage, log: logProtocol });

// --- board -----------------------------------------------------------------------------------

const board = new Chessboard($("board"), {
  position: START_FEN,
  assetsUrl: "./assets/",
  style: { pieces: { file: "pieces/standard.svg" }, animationDuration: 150 },
  extensions: [
    { class: Markers, props: { autoMarkers: MARKER_TYPE.square } },
    { class: Arrows },
    { class: PromotionDialog, props: { language: "en" } },
    { class: Accessibility, props: { language: "en", keyboardMoveInput: true, movePieceForm: false,
                                      boardAsTable: false, piecesAsList: false } },
  ],
});
board.enableMoveInput(onBoardInput);
let ownMove = false;          // the user's move from the board is being handed to the game

function userMove(move) {
  ownMove = true;
  const result = game.userMove(move);
  ownMove = false;
  $("move-message").textContent = result.ok ? "" : result.reason;
  drawBoard(game.view(), false);
  return result;
}

function onBoardInput(event) {
  switch (event.type) {
    case INPUT_EVENT_TYPE.moveInputStarted: {
      const moves = game.legalMovesFrom(event.squareFrom);
      if (moves.length === 0) return false;
      board.addLegalMovesMarkers(moves);
      return true;
    }
    case INPUT_EVENT_TYPE.validateMoveInput: {
      // Checked again: the game may have changed while the piece was held (a clock ran out).
      const moves = game.legalMovesFrom(event.squareFrom).filter((m) => m.to === event.squareTo);
      if (moves.length === 0) return false;
      if (moves.length > 1) { // a promotion: ask for the piece
        const color = moves[0].color === "w" ? COLOR.white : COLOR.black;
        board.showPromotionDialog(event.squareTo, color, (choice) => {
          if (choice && choice.type === PROMOTION_DIALOG_RESULT_TYPE.pieceSelected) {
            userMove({ from: event.squareFrom, to: event.squareTo, promotion: choice.piece.charAt(1) });
          } else {
            drawBoard(game.view(), false);
          }
        });
        return true;
      }
      // The board finishes its own move; the game takes it right after.
      queueMicrotask(() => userMove({ from: event.squareFrom, to: event.squareTo }));
      return true;
    }
    case INPUT_EVENT_TYPE.moveInputCanceled:
    case INPUT_EVENT_TYPE.moveInputFinished:
      board.removeLegalMovesMarkers();
      break;
  }
  return undefined;
}

let drawnMarks = "";
let drawnArrow = "";
function drawBoard(v, animated = true) {
  if (!v.userMayMove && !ownMove) {
    // A piece in hand or an open promotion dialog from before: drop them, the game has moved on.
    board.cancelMoveInput();
    if (board.isPromotionDialogShown()) board.getExtension(PromotionDialog).setDisplayState("hidden");
  }
  // While the user picks a promotion piece the board shows the pawn on its last rank; keep it there.
  const choosing = v.userMayMove && board.isPromotionDialogShown();
  if (!choosing && board.getPosition() !== v.fen.split(" ")[0]) {
    board.setPosition(v.fen, animated);
    board.removeLegalMovesMarkers(); // a move made with the keyboard on the board leaves them
  }
  const marks = v.lastMove ? `${v.lastMove.from}${v.lastMove.to}` : "";
  if (marks !== drawnMarks) {
    board.removeMarkers(MARKER_TYPE.frame);
    if (v.lastMove) {
      board.addMarker(MARKER_TYPE.frame, v.lastMove.from);
      board.addMarker(MARKER_TYPE.frame, v.lastMove.to);
    }
    drawnMarks = marks;
  }
  const best = v.analysing && v.search && v.search.fen === v.fen && v.search.best ? v.search.best : null;
  const arrow = best ? `${best.from}${best.to}` : "";
  if (arrow !== drawnArrow) {
    board.removeArrows();
    if (best) board.addArrow(ARROW_TYPE.info, best.from, best.to);
    drawnArrow = arrow;
  }
}

// --- clocks and the evaluation bar -----------------------------------------------------------

function formatClock(ms) {
  const s = Math.max(0, Math.ceil(ms / 1000));
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`;
}

function drawClocks(v) {
  const top = $("clock-top"), bottom = $("clock-bottom");
  top.hidden = bottom.hidden = !v.clocks;
  if (!v.clocks) return;
  const bottomColor = board.getOrientation() === COLOR.white ? "w" : "b";
  const topColor = bottomColor === "w" ? "b" : "w";
  const label = (c) => `${c === "w" ? "White" : "Black"}${c === v.userColor ? " (you)" : " (Vorna)"} ${formatClock(v.clocks[c])}`;
  for (const [el, c] of [[top, topColor], [bottom, bottomColor]]) {
    el.textContent = label(c);
    el.classList.toggle("running", v.clocks.running === c);
    el.classList.toggle("low", v.clocks.low[c]);
  }
}

// White's share of the bar: 50 % at 0, about 75 % at +2.75 pawns, all of it for a mate.
function whiteShare(score) {
  if (!score) return 50;
  if (score.mate !== undefined) return score.mate > 0 ? 100 : 0;
  return 50 + 50 * (2 / (1 + Math.exp(-0.004 * score.cp)) - 1);
}

function drawEvaluation(v) {
  const share = whiteShare(v.evaluation);
  const fill = $("eval-fill");
  const whiteBelow = board.getOrientation() === COLOR.white;
  fill.style.height = `${share.toFixed(1)}%`;
  fill.style.top = whiteBelow ? "auto" : "0";
  fill.style.bottom = whiteBelow ? "0" : "auto";
  $("eval-bar").setAttribute("aria-label", `Evaluation: ${v.evaluation ? formatScore(v.evaluation) : "none yet"}`);
  $("eval-bar").title = v.evaluation ? formatScore(v.evaluation) : "";
}

// --- the rest of the page --------------------------------------------------------------------

function drawMoves(v) {
  const list = $("moves");
  list.textContent = "";
  const entries = [...v.moves.map((m, i) => ({ san: m.san, ply: i + 1 })),
                   ...v.redo.map((m, i) => ({ san: m.san, ply: v.plies + i + 1, undone: true }))];
  if (v.startFen.split(" ")[1] === "b") entries.unshift(null);
  const firstNumber = Number(v.startFen.split(" ")[5] || 1);
  let current = null;
  for (let i = 0; i < entries.length; i += 2) {
    const li = document.createElement("li");
    li.value = firstNumber + i / 2;
    for (const entry of entries.slice(i, i + 2)) {
      if (li.childNodes.length) li.append(" ");
      if (!entry) {
        const dots = document.createElement("span");
        dots.className = "dots";
        dots.textContent = "…";
        li.append(dots);
        continue;
      }
      const button = document.createElement("button");
      button.type = "button";
      button.className = entry.undone ? "ply undone" : "ply";
      button.textContent = entry.san;
      button.dataset.ply = String(entry.ply);
      if (entry.undone) {
        button.disabled = true;
        button.title = "taken back: Redo plays it again";
      } else if (entry.ply === v.view) {
        button.setAttribute("aria-current", "true");
        current = button;
      }
      li.append(button);
    }
    list.append(li);
  }
  if (current) {  // keep the move shown in view, in the middle of the list when it has to scroll
    const top = current.getBoundingClientRect().top - list.getBoundingClientRect().top + list.scrollTop;
    if (top < list.scrollTop || top + current.offsetHeight > list.scrollTop + list.clientHeight) {
      list.scrollTop = top - list.clientHeight / 2;
    }
  } else if (v.view === 0) {
    list.scrollTop = 0;
  }
}

function drawAnalysis(v) {
  const s = v.search;
  $("an-depth").textContent = s && s.depth !== null ? String(s.depth) : "–";
  $("an-score").textContent = s && s.score ? formatScore(s.score) : "–";
  $("an-nps").textContent = s && s.nps !== null ? s.nps.toLocaleString("en") : "–";
  $("an-best").textContent = !s || !s.best ? "–" : s.best.san === s.best.lan ? s.best.lan : `${s.best.san} (${s.best.lan})`;
}

let drawnVersion = -1;
let fenRefused = false;      // the FEN field holds a refused text: it stops following the board
function draw() {
  const v = game.view();
  drawBoard(v);
  drawClocks(v);
  drawEvaluation(v);
  drawAnalysis(v);

  const status = $("status");
  status.textContent = v.status.text;
  status.dataset.state = v.status.state;
  status.dataset.engine = v.engine.status;
  if (v.lastReplyMs !== null) status.dataset.replyMs = String(Math.round(v.lastReplyMs));
  $("engine-name").textContent = v.engine.status === "ready" ? `${v.engine.name}, in this browser tab`
    : v.engine.status === "starting" ? "starting the engine…" : "Vorna is not running";
  $("engine-problem").hidden = v.engine.status !== "failed";
  $("engine-problem-text").textContent = v.engine.status === "failed" ? `${v.engine.message}. The game is kept.` : "";
  $("notice").hidden = !v.notice;
  $("notice").textContent = v.notice;

  $("analyse").disabled = !v.can.analyse;
  $("stop").disabled = !v.can.stop;
  $("take-back").disabled = !v.can.takeBack;
  $("redo").disabled = !v.can.redo;
  $("walk-start").disabled = $("walk-back").disabled = !v.can.back;
  $("walk-forward").disabled = $("walk-end").disabled = !v.can.forward;
  $("resign").disabled = !v.can.resign;
  $("offer-draw").disabled = !v.can.offerDraw;
  $("side").value = v.userColor;
  $("level").value = String(v.level);
  $("time-control").value = v.timeControl;

  const fenInput = $("fen-input");
  if (document.activeElement !== fenInput && !fenRefused) fenInput.value = v.fen;
  if (v.version !== drawnVersion) {
    drawMoves(v);
    $("pgn").value = game.pgn();
    drawnVersion = v.version;
  }
}

// --- commands --------------------------------------------------------------------------------

function flip() {
  board.setOrientation(board.getOrientation() === COLOR.white ? COLOR.black : COLOR.white, true);
  draw();
}

// The clipboard API exists only in secure contexts (https, localhost); a page reached over the local
// network copies the selected text the older way, and the focus goes back where it was.
async function copyPgn() {
  const text = game.pgn();
  const area = $("pgn");
  area.value = text;
  const done = () => { $("pgn-message").textContent = "The game is on the clipboard as PGN."; };
  try {
    await navigator.clipboard.writeText(text);
    done();
    return;
  } catch { /* below */ }
  const focused = document.activeElement;
  area.select();
  let copied = false;
  try { copied = document.execCommand("copy"); } catch { copied = false; }
  if (copied) {
    done();
    if (focused && focused !== document.body && focused.focus) focused.focus();
  } else {
    $("pgn-message").textContent = "The browser refused the clipboard: the PGN is selected below, copy it with Ctrl+C.";
  }
}

function downloadPgn() {
  const text = game.pgn();
  const date = (/\[Date "([^"]*)"\]/.exec(text) || [, "game"])[1].replace(/\?/g, "x").replace(/\./g, "-");
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([`${text}\n`], { type: "application/x-chess-pgn" }));
  link.download = `vorna-${date}.pgn`;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  $("pgn-message").textContent = `The game is saved as ${link.download} in your downloads.`;
}

function importPgn(text, from) {
  const result = game.importPgn(text);
  $("import-message").textContent = result.ok ? "" : `${from} was not imported: ${result.reason}.`;
  if (result.ok) $("import-text").value = "";
}

let resignTimer = 0;
function resign() {
  const button = $("resign");
  if (!button.classList.contains("confirm")) {
    button.classList.add("confirm");
    button.textContent = "Resign: sure?";
    resignTimer = setTimeout(() => { button.classList.remove("confirm"); button.textContent = "Resign"; }, 4000);
    return;
  }
  clearTimeout(resignTimer);
  button.classList.remove("confirm");
  button.textContent = "Resign";
  game.resign();
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
$("new-game").addEventListener("click", () => { fenRefused = false; $("fen-message").textContent = ""; game.newGame(); });
$("take-back").addEventListener("click", () => game.takeBack());
$("redo").addEventListener("click", () => game.redo());
$("walk-start").addEventListener("click", () => game.walk("start"));
$("walk-back").addEventListener("click", () => game.walk("back"));
$("walk-forward").addEventListener("click", () => game.walk("forward"));
$("walk-end").addEventListener("click", () => game.walk("end"));
$("moves").addEventListener("click", (e) => {
  const ply = e.target.closest("button.ply");
  if (ply && !ply.disabled) game.walk(Number(ply.dataset.ply));
});
$("flip").addEventListener("click", flip);
$("analyse").addEventListener("click", () => game.analyse());
$("stop").addEventListener("click", () => game.stop());
$("resign").addEventListener("click", resign);
$("offer-draw").addEventListener("click", () => game.offerDraw());
$("restart-engine").addEventListener("click", () => game.restartEngine());
$("copy-pgn").addEventListener("click", copyPgn);
$("download-pgn").addEventListener("click", downloadPgn);
$("import-pgn").addEventListener("click", () => importPgn($("import-text").value, "The PGN"));
$("import-file").addEventListener("change", async () => {
  const file = $("import-file").files[0];
  if (!file) return;
  try {
    importPgn(await file.text(), file.name);
  } catch (error) {
    $("import-message").textContent = `${file.name} could not be read: ${error.message}.`;
  }
  $("import-file").value = "";
});
$("side").addEventListener("change", () => {
  game.setUserColor($("side").value);
  board.setOrientation($("side").value === "w" ? COLOR.white : COLOR.black);
  draw();
});
$("level").addEventListener("change", () => game.setLevel(Number($("level").value)));
$("time-control").addEventListener("change", () => game.setTimeControl($("time-control").value));
$("fen-input").addEventListener("input", () => { fenRefused = false; $("fen-message").textContent = ""; });
$("fen-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const result = game.setUpFen($("fen-input").value);
  fenRefused = !result.ok;
  $("fen-message").textContent = result.ok ? "" : `Bad FEN: ${result.reason}. The game goes on unchanged.`;
  if (result.ok) draw();
});
// The move field is never disabled, so that it keeps the focus while Vorna thinks.
$("move-form").addEventListener("submit", (e) => {
  e.preventDefault();
  const text = $("move-input").value;
  if (!text.trim()) return;
  if (userMove(text).ok) $("move-input").value = "";
});
document.addEventListener("keydown", (e) => {
  if (e.key === "Escape" && game.view().analysing) { game.stop(); return; }
  if (e.altKey || e.ctrlKey || e.metaKey || e.shiftKey) return;
  // In a text field the keys move the caret; the move field, which keeps the focus, lets them walk
  // while it is empty.
  const emptyMoveField = e.target.id === "move-input" && e.target.value === "";
  if (!emptyMoveField && e.target.closest && e.target.closest("input, textarea, select, [contenteditable], #board")) return;
  const to = { ArrowLeft: "back", ArrowRight: "forward", Home: "start", End: "end" }[e.key];
  if (!to) return;
  e.preventDefault();
  game.walk(to);
});
// Keep the clocks as they are when the page goes away (a reload, a closed tab).
window.addEventListener("pagehide", () => game.save());
setInterval(() => { const v = game.view(); if (v.clocks) drawClocks(v); }, 200);

// --- start -----------------------------------------------------------------------------------

game.subscribe(draw);
game.start();
board.setOrientation(game.view().userColor === "w" ? COLOR.white : COLOR.black);
draw();
