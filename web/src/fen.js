// Checks a position text typed by the user before it replaces the game. chess.js checks the syntax;
// the page also refuses what chess.js lets through but no game can reach, so that Vorna is never
// handed a position it cannot play sensibly: castling rights without the king and rook at home, the
// side not to move in check, more pieces than a side can have.
import { Chess, validateFen } from "chess.js";

const HOMES = { K: ["e1", "h1", "w"], Q: ["e1", "a1", "w"], k: ["e8", "h8", "b"], q: ["e8", "a8", "b"] };

// Returns { fen } (six fields) or { error } (a sentence without a final full stop).
export function checkFen(text) {
  const fields = text.trim().split(/\s+/).filter(Boolean);
  if (fields.length === 0) return { error: "the position text is empty" };
  if (fields.length === 2) fields.push("-");          // placement and side: no castling, no en passant
  if (fields.length === 3) fields.push("-");
  if (fields.length === 4) fields.push("0", "1");     // Vorna's own FEN setup reads four fields
  if (fields.length === 5) fields.push("1");
  const fen = fields.join(" ");
  const syntax = validateFen(fen);
  if (!syntax.ok) return { error: syntax.error.replace(/^Invalid FEN: /, "") };
  const game = new Chess(fen);

  for (const color of ["w", "b"]) {
    const name = color === "w" ? "White" : "Black";
    const pieces = game.board().flat().filter((p) => p && p.color === color);
    const count = (type) => pieces.filter((p) => p.type === type).length;
    if (pieces.length > 16) return { error: `${name} has more than 16 pieces` };
    const promoted = Math.max(0, count("q") - 1) + Math.max(0, count("r") - 2) +
                     Math.max(0, count("b") - 2) + Math.max(0, count("n") - 2);
    if (count("p") + promoted > 8) return { error: `${name} has more pieces than promotions of its pawns can give` };
  }
  for (const right of fields[2] === "-" ? [] : fields[2]) {
    const [kingSquare, rookSquare, color] = HOMES[right];
    const king = game.get(kingSquare), rook = game.get(rookSquare);
    if (!king || king.type !== "k" || king.color !== color || !rook || rook.type !== "r" || rook.color !== color) {
      return { error: `castling right ${right} needs the ${color === "w" ? "white" : "black"} king on ${kingSquare} and a rook on ${rookSquare}` };
    }
  }
  const other = fields.slice();
  other[1] = fields[1] === "w" ? "b" : "w";
  other[3] = "-";
  if (new Chess(other.join(" "), { skipValidation: true }).isCheck()) {
    return { error: `${fields[1] === "w" ? "Black" : "White"} is in check but it is ${fields[1] === "w" ? "White" : "Black"}'s move` };
  }
  return { fen: game.fen() };
}
