#include "platform/start_facts.h"

#include "platform/win32.h"

namespace vellomar {

// A NULL job handle queries the job this process is in; for a nested job that is the innermost,
// and the limits of the jobs around it cannot be read.
JobFacts current_job_facts() {
    JobFacts facts;
    BOOL in_job = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job)) {
        facts.membership = JobMembership::unknown;
        return facts;
    }
    if (!in_job) {
        return facts;
    }
    facts.membership = JobMembership::member;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof(limits), nullptr)) {
        return facts;
    }
    const DWORD flags = limits.BasicLimitInformation.LimitFlags;
    facts.limits_known = true;
    facts.breakaway_allowed = (flags & (JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK)) != 0;
    facts.kills_on_close = (flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
    return facts;
}

bool session_ending() {
    return GetSystemMetrics(SM_SHUTTINGDOWN) != 0;
}

}  // namespace vellomar
