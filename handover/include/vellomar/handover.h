/* The application's side of an update through vellomar-update.exe: hand a downloaded installer
 * package over to the helper and exit; at the next start, learn what became of it.
 *
 * A C interface, so that C, C++ and any language with a foreign-function interface (C#, Python,
 * Rust, Node) can call it. Every string is NUL-terminated UTF-16 (wchar_t is 16 bits on every
 * Windows compiler); every path is fully qualified. No function keeps a pointer it was given.
 *
 * Link the static library vellomar::handover, or the DLL vellomar_handover.dll with
 * VELLOMAR_HANDOVER_DLL defined before this header is included.
 */
#ifndef VELLOMAR_HANDOVER_H
#define VELLOMAR_HANDOVER_H

#include <stddef.h> /* wchar_t in C */

#if defined(VELLOMAR_HANDOVER_BUILDING_DLL)
#define VELLOMAR_HANDOVER_API __declspec(dllexport)
#elif defined(VELLOMAR_HANDOVER_DLL)
#define VELLOMAR_HANDOVER_API __declspec(dllimport)
#else
#define VELLOMAR_HANDOVER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VellomarUpdateRequest {
    const wchar_t* helper;      /* the helper the application ships (in its installation) */
    const wchar_t* package;     /* the downloaded installer package, fully qualified */
    const wchar_t* launch;      /* optional (NULL): the application to relaunch */
    const wchar_t* install_dir; /* optional (NULL) */
    const wchar_t* version;     /* optional (NULL): the version being installed */
    const wchar_t* state_dir;   /* the application's own directory for the pending-update record */
} VellomarUpdateRequest;

typedef enum VellomarOutcome {
    VELLOMAR_OUTCOME_NONE, VELLOMAR_OUTCOME_UPDATED, VELLOMAR_OUTCOME_NOT_APPLIED,
    VELLOMAR_OUTCOME_IN_PROGRESS
} VellomarOutcome;

/* 0 on success, otherwise a Win32 error code (ERROR_BAD_PATHNAME for a path that is not fully qualified;
 * ERROR_NOT_ENOUGH_MEMORY when memory runs out: no C++ exception ever leaves these functions). */

/* `state_dir` is the application's own, local directory outside its installation, e.g.
 * %LOCALAPPDATA%\<application> (not %TEMP%, which disk clean-up empties). It holds the record and the
 * helper's copies, and is the helper's and the installer's current directory. */

/* Hands the package over to the helper; the caller then exits. Copies `helper` into `state_dir`, which
 * must exist, as `<helper name>.handover.exe` (`.handover-2.exe` ... `-16` while an earlier copy is
 * still in use), writable even when the helper is read-only, after deleting the unused copies there;
 * the package stays where it is. Writes the pending-update record `vellomar-update.pending` (target
 * version, package, copy, this process's id, the helper's id and creation time, and the identity and
 * last-write time of `launch`, or of this process's executable without one) into `state_dir`, and
 * starts the copy: `--pid <this process> --installer <package>` and, where given, `--launch`,
 * `--install-dir`, `--version`, quoted for the C runtime. The copy inherits no handle, runs in
 * `state_dir`, and is granted the foreground (best effort: the user's next input elsewhere cancels it,
 * and it does not pass to what the helper starts). It starts outside the caller's job: inside only
 * when breaking away is refused and the job does not end its processes when it closes. Only the job
 * this process is in directly can be queried; an outer job of a nested chain is seen only when it
 * refuses the breakaway. A copy or start refused with ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED outside a
 * job (a virus scanner holding the fresh copy) is tried 10 times, 200 ms apart. Sets *helper_pid.
 * Errors: ERROR_INVALID_PARAMETER for a NULL request, helper, package, state_dir or helper_pid;
 * ERROR_BAD_PATHNAME for a given path that is not fully qualified (an empty one included);
 * ERROR_SHUTDOWN_IN_PROGRESS while Windows shuts down or the user logs off;
 * ERROR_ALREADY_EXISTS while a helper this application started from `state_dir` still runs (one
 * update at a time); ERROR_ELEVATION_REQUIRED when the package's manifest (read as data, never run)
 * asks for `requireAdministrator` or `highestAvailable` (see vellomar_can_update_silently);
 * ERROR_ACCESS_DENIED in a job that forbids breaking away and ends its processes when it closes (it
 * would end the helper, and the installer, with the application; the system's brokers that start a
 * process outside the caller's jobs are not used, see the README); the OS error of the copy, the
 * record or the start. On any error nothing is started, no new copy stays, and an
 * earlier record stays as it was. */
VELLOMAR_HANDOVER_API unsigned long vellomar_start_update(const VellomarUpdateRequest* request,
                                                          unsigned long* helper_pid);

/* For a shutdown the user aborted: ends the helper `helper_pid` while it still waits for this
 * process (it holds nothing then), waits up to 10 s for it to end, and deletes the record and the
 * copy. The package stays. Only the helper this process's record names (its id and creation time)
 * is ended; one that has ended already counts as ended.
 * Errors: ERROR_NOT_FOUND when the record is missing, torn, another process's, or names another
 * helper than `helper_pid`; the OS error of opening the process; ERROR_TIMEOUT when it did not end.
 * On an error the record stays. */
VELLOMAR_HANDOVER_API unsigned long vellomar_cancel_update(unsigned long helper_pid, const wchar_t* state_dir);

/* At every start: what became of the recorded update. Version texts are compared trimmed of white
 * space; an empty target never matches.
 * UPDATED: the recorded target version equals `running_version`, and something was installed: the
 *   launch file has changed since the start, or the package is gone (a repair to the running version
 *   that installed nothing is no update). Answered as soon as that holds, even while the helper is
 *   still ending. The package and the copy are deleted unless a process has them open.
 * IN_PROGRESS: otherwise, while the recorded helper still runs (waiting or installing). Nothing is
 *   touched; say that the update is under way and will start the application, and exit.
 * NOT_APPLIED: otherwise, while the package is still there, for a retry or the interactive
 *   installer. The package stays; the copy is deleted unless in use.
 * NONE: no record, a torn or unreadable one, or a package that is gone with no matching version.
 * Except for IN_PROGRESS the record is claimed by this caller (of two instances starting at once, one
 * gets the answer and the other NONE) and deleted, and the unused copies in `state_dir` are deleted.
 * No other file is ever deleted.
 * Errors: ERROR_INVALID_PARAMETER for a NULL argument, ERROR_BAD_PATHNAME for a relative
 * state_dir; *outcome, when given, is NONE then. */
VELLOMAR_HANDOVER_API unsigned long vellomar_update_outcome(const wchar_t* state_dir,
                                                            const wchar_t* running_version,
                                                            VellomarOutcome* outcome);

/* 1 when this process can create a file in `install_dir` (a probe file, deleted on close), so that
 * the helper's silent runs can update it; 0 for NULL, a relative path, a missing directory, a file,
 * or no write access. When 0, open the installer yourself while you still have the foreground. A
 * 32-bit program without a manifest may see 1 for a folder Windows virtualises for it.
 * A writable directory is not enough when the package asks for administrator rights in its manifest
 * (NSIS's default `RequestExecutionLevel admin`, or `highest`): no silent run could start it, and
 * vellomar_start_update then starts nothing and returns ERROR_ELEVATION_REQUIRED (740). Open the
 * installer yourself then too, while you are in front: Windows shows its consent prompt. */
VELLOMAR_HANDOVER_API int vellomar_can_update_silently(const wchar_t* install_dir); /* 1 or 0 */

#ifdef __cplusplus
}
#endif

#endif /* VELLOMAR_HANDOVER_H */
