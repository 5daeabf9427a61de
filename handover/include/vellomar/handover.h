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
    VELLOMAR_OUTCOME_NONE, VELLOMAR_OUTCOME_UPDATED, VELLOMAR_OUTCOME_NOT_APPLIED
} VellomarOutcome;

/* 0 on success, otherwise a Win32 error code (ERROR_BAD_PATHNAME for a path that is not fully qualified). */
VELLOMAR_HANDOVER_API unsigned long vellomar_start_update(const VellomarUpdateRequest* request,
                                                          unsigned long* helper_pid);
VELLOMAR_HANDOVER_API unsigned long vellomar_cancel_update(unsigned long helper_pid, const wchar_t* state_dir);
VELLOMAR_HANDOVER_API unsigned long vellomar_update_outcome(const wchar_t* state_dir,
                                                            const wchar_t* running_version,
                                                            VellomarOutcome* outcome);
VELLOMAR_HANDOVER_API int vellomar_can_update_silently(const wchar_t* install_dir); /* 1 or 0 */

#ifdef __cplusplus
}
#endif

#endif /* VELLOMAR_HANDOVER_H */
