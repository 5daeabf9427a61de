/* The smallest application of the handover library: it asks what became of a pending update. */
#include <vellomar/handover.h>

#include <stdio.h>

int main(void) {
    VellomarOutcome outcome = VELLOMAR_OUTCOME_NONE;
    const unsigned long error = vellomar_update_outcome(L"C:\\", L"1.0", &outcome);
    printf("%lu %d %d\n", error, (int)outcome, vellomar_can_update_silently(L"C:\\"));
    return 0;
}
