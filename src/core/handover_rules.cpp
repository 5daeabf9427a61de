#include "core/handover_rules.h"

#include "core/version_text.h"

namespace vellomar {

StartPlan plan_start(const StartFacts& facts) {
    if (facts.shutting_down) {
        return {handover_error::shutdown_in_progress, JobStart::plain};
    }
    if (facts.earlier_helper_runs) {
        return {handover_error::already_exists, JobStart::plain};
    }
    if (facts.package_requires_elevation) {
        return {handover_error::elevation_required, JobStart::plain};
    }
    const JobFacts& job = facts.job;
    if (job.membership == JobMembership::none) {
        return {0, JobStart::plain};
    }
    if (job.membership == JobMembership::unknown || !job.limits_known) {
        return {0, JobStart::breakaway};
    }
    if (job.breakaway_allowed) {
        return {0, job.kills_on_close ? JobStart::breakaway : JobStart::breakaway_else_inside};
    }
    if (job.kills_on_close) {
        return {handover_error::access_denied, JobStart::plain};
    }
    return {0, JobStart::plain};
}

bool retry_refused(std::uint32_t error, int attempts_made, JobMembership membership) {
    return (error == handover_error::sharing_violation || error == handover_error::access_denied) &&
           membership == JobMembership::none && attempts_made < refused_start_attempts;
}

Outcome judge_outcome(const OutcomeFacts& facts) {
    const std::u16string target = trim_version(facts.target);
    if (!target.empty() && target == trim_version(facts.running) && (facts.launch_changed || !facts.package_exists)) {
        return Outcome::updated;
    }
    if (facts.helper_runs) {
        return Outcome::in_progress;
    }
    return facts.package_exists ? Outcome::not_applied : Outcome::none;
}

}  // namespace vellomar
