/* Compiled as C, so that the header stays C: the calls a C caller makes, with input each refuses or
 * answers without a pending update. handover_test.cpp checks the results. */
#include "vellomar/handover.h"

void handover_c_calls(const wchar_t* state_dir, unsigned long results[5]);

void handover_c_calls(const wchar_t* state_dir, unsigned long results[5]) {
    VellomarUpdateRequest request = {0};
    unsigned long pid = 0;
    VellomarOutcome outcome = VELLOMAR_OUTCOME_UPDATED;
    request.helper = L"C:\\App\\vellomar-update.exe";
    request.package = L"setup.exe";
    request.state_dir = state_dir;
    results[0] = vellomar_start_update(&request, &pid);
    results[1] = vellomar_cancel_update(pid, state_dir);
    results[2] = vellomar_update_outcome(state_dir, L"1.0", &outcome);
    results[3] = (unsigned long)outcome;
    results[4] = (unsigned long)vellomar_can_update_silently(state_dir);
}
