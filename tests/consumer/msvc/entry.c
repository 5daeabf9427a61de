/* An MSVC-ABI program without any C runtime: its entry point calls the DLL through the import
 * library vellomar_handover.lib and returns the result, ERROR_BAD_PATHNAME (161) for a state
 * directory that is not fully qualified, as the process's exit code. */
#include <vellomar/handover.h>

unsigned long entry(void);

unsigned long entry(void) {
    VellomarOutcome outcome = VELLOMAR_OUTCOME_UPDATED;
    const unsigned long error = vellomar_update_outcome(L"state", L"1.0", &outcome);
    return outcome == VELLOMAR_OUTCOME_NONE ? error : 1;
}
