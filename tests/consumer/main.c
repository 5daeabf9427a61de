/* The smallest application of the handover library, built from the release archive: it asks what
 * became of a pending update and whether it could update silently, and exits with 0 only when the
 * library answered as documented. */
#include <vellomar/handover.h>

#include <stdio.h>

int main(void) {
    /* ERROR_BAD_PATHNAME: a state directory that is not fully qualified. */
    VellomarOutcome outcome = VELLOMAR_OUTCOME_UPDATED;
    const unsigned long relative = vellomar_update_outcome(L"state", L"1.0", &outcome);
    /* No record in the Windows directory: nothing to tell. */
    VellomarOutcome none = VELLOMAR_OUTCOME_UPDATED;
    const unsigned long absent = vellomar_update_outcome(L"C:\\windows", L"1.0", &none);
    const int silently = vellomar_can_update_silently(L"relative");
    printf("relative state dir %lu, outcome %d; no record %lu, outcome %d; relative install dir %d\n", relative,
           (int)outcome, absent, (int)none, silently);
    return relative == 161 && outcome == VELLOMAR_OUTCOME_NONE && absent == 0 && none == VELLOMAR_OUTCOME_NONE &&
                   silently == 0
               ? 0
               : 1;
}
