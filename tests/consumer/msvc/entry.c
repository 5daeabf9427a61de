/* An MSVC-ABI program without any C runtime or SDK: its entry point calls the DLL through the import
 * library vellomar_handover.lib and ends the process with the result, ERROR_BAD_PATHNAME (161) for a
 * state directory that is not fully qualified, as its exit code. It ends it with ExitProcess rather
 * than by returning: on Windows a return ends only the thread, and the loader's worker threads may
 * outlive it with exit codes of their own. */
#include <vellomar/handover.h>

__declspec(dllimport) void ExitProcess(unsigned int code);

void entry(void);

void entry(void) {
    VellomarOutcome outcome = VELLOMAR_OUTCOME_UPDATED;
    const unsigned long error = vellomar_update_outcome(L"state", L"1.0", &outcome);
    ExitProcess(outcome == VELLOMAR_OUTCOME_NONE ? (unsigned int)error : 1u);
}
