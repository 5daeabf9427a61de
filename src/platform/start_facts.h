#pragma once
// What the system says about starting a process that must outlive this one: the job this process
// is in and whether the session is ending. Standard types only.
#include "core/handover_rules.h"

namespace vellomar {

// A failed IsProcessInJob gives membership unknown; a failed limit query, limits not known.
JobFacts current_job_facts();

// GetSystemMetrics(SM_SHUTTINGDOWN): the user's session is logging off or the system shutting down.
bool session_ending();

}  // namespace vellomar
