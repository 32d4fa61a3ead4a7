// The package's one API, the same under Node and in browsers.

/** How command lines reach the engine while it searches (the engine answers alike on both). */
export type VornaInputPath = "shared-memory" | "messages";

export interface VornaOptions {
  /**
   * "shared-memory": through a SharedArrayBuffer, the quicker path; in a browser only on a cross-origin
   * isolated page. "messages": as messages to the engine's worker, on any page. Default: shared memory
   * under Node and on an isolated page, messages elsewhere.
   */
  input?: VornaInputPath;
  /**
   * Where the worker file is, when it is not beside the module (a browser: its address; Node: a file
   * path or file: URL). Default: the package's own file for the input path.
   */
  url?: string | { readonly href: string };
  /** Milliseconds to wait for the engine to start before rejecting. Default 30000. */
  timeout?: number;
}

/** How the engine ended: it quit with an exit status (null: it was terminated), or it failed. */
export type VornaExit = { status: number | null; error?: undefined } | { status?: undefined; error: Error };

export interface VornaCommandOptions {
  /** Milliseconds to wait for the line; then the promise rejects. Default: no limit. */
  timeout?: number;
}

/** The Error a command() rejects with: what the engine printed until then is in lines. */
export interface VornaCommandError extends Error {
  lines: string[];
}

export interface VornaEngine {
  /** The input path in use. */
  readonly inputPath: VornaInputPath;
  /**
   * Called with every line the engine prints, without its newline. Lines printed before it is first
   * set are kept for it, unless command() has been used.
   */
  onLine: ((line: string) => void) | null;
  /** Called once when the engine quits or fails (not after terminate()). */
  onExit: ((exit: VornaExit) => void) | null;
  /** Sends one command line (a final newline may be given, none inside); works during a search too. */
  send(line: string): void;
  /**
   * Sends one command line and resolves with the lines printed after it, up to and including the
   * first that matches `until`. Without `until` it resolves with [] once the line is sent (for
   * commands that print nothing). Rejects with a VornaCommandError on timeout, when the engine ends
   * first, or when it is terminated.
   */
  command(line: string, until?: RegExp | ((line: string) => boolean), options?: VornaCommandOptions): Promise<string[]>;
  /** Ends the engine's worker at once; command() calls still waiting reject. */
  terminate(): void;
}

/**
 * Starts the engine in a worker (a Web Worker in a browser, a worker thread under Node). Resolves once
 * it runs; rejects with an Error whose message says why it could not start.
 */
export function startVorna(options?: VornaOptions): Promise<VornaEngine>;
