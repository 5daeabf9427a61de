// Every path is fully qualified; a relative one fails with Win32 error 161 (ERROR_BAD_PATHNAME).

export interface UpdateRequest {
  /** The helper the application ships in its installation; by default the one in this package. */
  helper?: string;
  /** The downloaded and verified installer package. */
  package: string;
  /** The application to relaunch after the update (its own executable). */
  launch?: string;
  /** The installation directory; by default the directory of `launch`. */
  installDir?: string;
  /** The version being installed, exactly as the new build reports it. */
  version?: string;
  /** The application's own existing directory for the pending-update record, outside the installation. */
  stateDir: string;
}

/** 'in-progress': the helper still runs; the new version will start by itself. */
export type UpdateOutcome = 'none' | 'updated' | 'not-applied' | 'in-progress';

/** What every call throws: `code` is the Win32 error code. */
export interface UpdateError extends Error {
  code: number;
  syscall: string;
}

/** Hands the package over to a copy of the helper and returns the helper's process id; then quit. */
export function startUpdate(request: UpdateRequest): number;
/** For a quit that was vetoed after startUpdate: ends the waiting helper and deletes the record. */
export function cancelUpdate(helperPid: number, stateDir: string): void;
/** At every start: what became of the update recorded in `stateDir`. */
export function updateOutcome(stateDir: string, runningVersion: string): UpdateOutcome;
/** False when the helper could not install silently: open the installer yourself, while in front. */
export function canUpdateSilently(installDir: string): boolean;

/** The helper in this package (in app.asar.unpacked when packaged by Electron). */
export const helperPath: string;
/** The handover DLL in this package. */
export const dllPath: string;
