#pragma once
// The decisions of the handover library (the application's side of an update), on plain facts that
// the library gathers from the system: whether and how to start the helper, when to try again, and
// what became of a recorded update. Standard types only, so that each decision has native rows.
#include <cstdint>
#include <string_view>

namespace vellomar {

// The Win32 error codes the decisions answer with; the library checks them against the system's.
namespace handover_error {
inline constexpr std::uint32_t access_denied = 5;
inline constexpr std::uint32_t sharing_violation = 32;
inline constexpr std::uint32_t already_exists = 183;
inline constexpr std::uint32_t elevation_required = 740;
inline constexpr std::uint32_t shutdown_in_progress = 1115;
}  // namespace handover_error

// The process's job as far as it can be queried: only the immediate job's limits are visible, so
// that an outer job of a nested chain may still refuse the breakaway its inner job allows.
enum class JobMembership { none, member, unknown };
struct JobFacts {
    JobMembership membership = JobMembership::none;
    bool limits_known = false;
    bool breakaway_allowed = false;  // JOB_OBJECT_LIMIT_BREAKAWAY_OK or _SILENT_BREAKAWAY_OK
    bool kills_on_close = false;     // JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE
};

struct StartFacts {
    bool shutting_down = false;
    bool earlier_helper_runs = false;  // this application's recorded helper, still running
    bool package_requires_elevation = false;  // its manifest asks for administrator rights
    JobFacts job;
};

// plain: no job to leave. breakaway: out of the job or not at all (a refusal is the answer).
// breakaway_else_inside: out of the job, or inside it when an outer job refuses the breakaway.
enum class JobStart { plain, breakaway, breakaway_else_inside };

struct StartPlan {
    std::uint32_t refusal = 0;  // a Win32 error: nothing is started
    JobStart job = JobStart::plain;
};

// In order: a session that is ending (the installer would be cut off half way) refuses with
// ERROR_SHUTDOWN_IN_PROGRESS; a helper of this application that still runs with
// ERROR_ALREADY_EXISTS; a package that asks for administrator rights, which no silent run could
// start, with ERROR_ELEVATION_REQUIRED, so that the application opens it while it is in front. Then
// the job: the helper must outlive the application, so it starts inside
// a job only when that job is known not to end its processes on close; a job that refuses the
// breakaway and kills on close (or whose limits are unknown) refuses with ERROR_ACCESS_DENIED.
StartPlan plan_start(const StartFacts& facts);

// A fresh copy that a virus scanner holds for a moment refuses the copy or the start with
// ERROR_SHARING_VIOLATION or ERROR_ACCESS_DENIED: tried `refused_start_attempts` times in all,
// `refused_start_pause_ms` apart. Inside a job ERROR_ACCESS_DENIED is the job's refusal, not tried again.
inline constexpr int refused_start_attempts = 10;
inline constexpr std::uint32_t refused_start_pause_ms = 200;
bool retry_refused(std::uint32_t error, int attempts_made, JobMembership membership);

enum class Outcome { none, updated, not_applied, in_progress };

struct OutcomeFacts {
    std::u16string_view target;   // the recorded version
    std::u16string_view running;  // the caller's version
    bool launch_changed = false;  // the launch file is not what it was at the start
    bool package_exists = false;
    bool helper_runs = false;
};

// UPDATED: the target (trimmed, not empty) is running and something was installed: the launch file
// changed or the package is gone. That holds even before the helper has ended. IN_PROGRESS: the
// helper still runs. NOT_APPLIED: the package is still there. NONE otherwise.
Outcome judge_outcome(const OutcomeFacts& facts);

}  // namespace vellomar
