// helper_bench: what the helper costs under Wine beyond the pauses the helper makes and what Wine
// itself charges. Not a test: bench/run builds it, runs it and prints its tables.
//   helper_bench [--runs N]
// N rounds (default 5) of every measurement, floors included, after an untimed one; the tables give
// the median and the maximum over the rounds. Installer and application are copies of child_probe,
// a locked executable is held by lock_probe, and bench_noop.exe stands for Wine's own costs; all
// are found beside this program.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "helper_image.h"
#include "probes.h"
#include "program_runs.h"
#include "update_timing.h"

namespace {

using support::epoch_ms;
using support::in_quotes;
using Samples = std::vector<double>;

// The pauses the helper makes.
constexpr double dead_pid_pause_ms = vellomar::unopenable_process_pause_ms;
constexpr double settling_pause_ms = vellomar::settling_pause_ms;
constexpr double retry_pause_ms = vellomar::retry_pause_ms;
constexpr int attempts = vellomar::silent_attempts;

// A number of the helper's as a floor's label shows it.
std::string text(std::uint64_t number) { return std::to_string(number); }

const std::wstring& noop_path() {
    static const std::wstring path = support::own_directory() + L"bench_noop.exe";
    return path;
}

void sleep_until(std::uint64_t time_ms) {
    const std::uint64_t now = epoch_ms();
    if (time_ms > now) Sleep(static_cast<DWORD>(time_ms - now));
}

double span(std::uint64_t from_ms, std::uint64_t to_ms) {
    return static_cast<double>(to_ms) - static_cast<double>(from_ms);
}

struct Timed {
    std::uint64_t start_ms = 0;  // just before CreateProcessW
    support::StartedProcess started;
};

// Wine tears a process down for a while after its handle is signalled, and a process started at
// once pays for part of that: every start here comes after a pause.
Timed start(const std::wstring& program, const std::wstring& tail, DWORD flags = 0,
            const std::wstring& directory = {}) {
    Sleep(300);
    Timed timed;
    timed.start_ms = epoch_ms();
    timed.started = support::start_process(program, in_quotes(program) + tail, flags, directory);
    return timed;
}

// The exit code; nothing when the process did not start or did not end within a minute.
std::optional<DWORD> wait_exit(const support::StartedProcess& process) {
    if (!process.process.valid()) return std::nullopt;
    if (WaitForSingleObject(process.process.get(), 60000) != WAIT_OBJECT_0) {
        (void)TerminateProcess(process.process.get(), 0xDEAD);
        return std::nullopt;
    }
    DWORD code = 0;
    (void)GetExitCodeProcess(process.process.get(), &code);
    return code;
}

// When a process ended, by the system's record of it.
std::uint64_t exit_ms(const support::StartedProcess& process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process.process.get(), &created, &exited, &kernel, &user)) return 0;
    return epoch_ms(exited);
}

std::size_t records(const std::wstring& log) { return support::read_probe_log(log).size(); }

// A package and an installed application as an application lays them out, both copies of
// child_probe that log beside them: <dir>\pkg\setup.exe and <dir>\App Dir\app.exe.
struct Run {
    support::ScratchDirectory dir{L"bench"};
    std::wstring package_dir = dir / L"pkg";
    std::wstring installer = dir / L"pkg\\setup.exe";
    std::wstring installer_log = dir / L"installer.log";
    std::wstring app_dir = dir / L"App Dir";
    std::wstring app = dir / L"App Dir\\app.exe";
    std::wstring app_log = dir / L"app.log";
};

[[nodiscard]] bool lay_out(const Run& run, const wchar_t* installer_exit_codes, DWORD app_sleep_ms) {
    return CreateDirectoryW(run.package_dir.c_str(), nullptr) && CreateDirectoryW(run.app_dir.c_str(), nullptr) &&
           support::place_probe(run.installer, run.installer_log, installer_exit_codes) &&
           support::place_probe(run.app, run.app_log, L"0", app_sleep_ms);
}

// The helper started as the application starts it: in the package's directory, no handles.
Timed start_helper(DWORD pid, const Run& run) {
    return start(support::helper_path(),
                 L" --pid " + std::to_wstring(pid) + L" --installer " + in_quotes(run.installer) + L" --launch " +
                     in_quotes(run.app) + L" --version 2.3.0",
                 0, run.package_dir);
}

// An id whose process has ended and been released, so that the helper cannot open it. Wine keeps
// an ended process openable for about half a second after its last handle is closed.
DWORD dead_pid() {
    DWORD id = 0;
    {
        const Timed noop = start(noop_path(), L"");
        if (!wait_exit(noop.started)) return 0;
        id = noop.started.id;
    }
    const auto gone = [id] { return !vellomar::UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, id)).valid(); };
    return support::poll_until(gone, 5000) ? id : 0;
}

// --- one run of each measurement; nothing when the run went wrong -------------------------------

// The floor P: bench_noop started and ended.
std::optional<double> process_floor() {
    const Timed noop = start(noop_path(), L"");
    if (wait_exit(noop.started) != 0u) return std::nullopt;
    return span(noop.start_ms, epoch_ms());
}

struct Direct {
    double run_ms = 0;    // start to end
    double start_ms = 0;  // start to its log record: the process start Wine charges
};

// The floors I0, I1 and S: the installer stand-in started directly with the helper's arguments.
std::optional<Direct> installer_direct(const wchar_t* exit_codes) {
    const Run run;
    if (!lay_out(run, exit_codes, 0)) return std::nullopt;
    // A just-written executable starts tens of ms slower; the helper's installer was written
    // seconds before it runs.
    Sleep(1000);
    // A console program: started by the helper, which has no console, it gets one of its own (and
    // Wine a conhost.exe for it); started from here it would share ours.
    const Timed installer = start(run.installer, L" /S /UPDATE /D=" + run.app_dir, CREATE_NEW_CONSOLE, run.package_dir);
    const bool ended = wait_exit(installer.started).has_value();
    const std::uint64_t end_ms = epoch_ms();
    const std::vector<support::ProbeRecord> log = support::read_probe_log(run.installer_log);
    if (!ended || log.size() != 1) return std::nullopt;
    return Direct{span(installer.start_ms, end_ms), span(installer.start_ms, log[0].time_ms)};
}

// The floor B (bench_noop box) and path (c) (the helper without options): from CreateProcessW to
// a visible box of that process with the helper's caption, which the watch then answers with OK.
std::optional<double> time_to_box(const std::wstring& program, const std::wstring& tail) {
    const Timed child = start(program, tail);
    support::BoxWatch watch(child.started.id, support::helper_caption);
    const bool ended = child.started.process.valid() && wait_exit(child.started).has_value();
    const std::vector<support::MessageBoxRecord> boxes = watch.stop();
    if (!ended || boxes.size() != 1) return std::nullopt;
    return span(child.start_ms, boxes[0].seen_ms);
}

// Path (a) with installer exit code 0, path (b) with 1: a dead id, an unlocked executable, then
// the installer. (a) ends with the relaunch (one installer record, one application record), (b)
// with the installer opened through the shell (three silent records and that one).
std::optional<double> helper_path(const wchar_t* exit_codes, std::size_t installer_records, std::size_t app_records) {
    const Run run;
    const DWORD pid = dead_pid();
    if (pid == 0 || !lay_out(run, exit_codes, 0)) return std::nullopt;
    const Timed helper = start_helper(pid, run);
    const std::optional<DWORD> code = wait_exit(helper.started);
    const double elapsed = span(helper.start_ms, epoch_ms());
    // What the helper started last may log after the helper has ended.
    const auto logged = [&] {
        return records(run.installer_log) == installer_records && records(run.app_log) == app_records;
    };
    if (code != 0u || !support::poll_until(logged, 5000)) return std::nullopt;
    return elapsed;
}

// The application, alive when the helper starts, exits 1.5 s later; its exit, by the system's
// record, to the installer's record.
std::optional<double> reaction_to_exit() {
    const Run run;
    if (!lay_out(run, L"0", 1500)) return std::nullopt;
    const Timed app = start(run.app, L"");
    if (!support::poll_until([&] { return records(run.app_log) == 1; }, 5000)) return std::nullopt;
    const Timed helper = start_helper(app.started.id, run);
    const std::optional<DWORD> code = wait_exit(helper.started);
    const std::vector<support::ProbeRecord> installs = support::read_probe_log(run.installer_log);
    const std::uint64_t app_end_ms = exit_ms(app.started);
    if (code != 0u || installs.size() != 1 || app_end_ms < helper.start_ms) return std::nullopt;
    return span(app_end_ms, installs[0].time_ms);
}

// A dead id and the executable held past the 2 s pause, then released 3.5 s after the helper's
// start by ending its holder; from that moment to the installer's record.
std::optional<double> reaction_to_unlock() {
    const Run run;
    const DWORD pid = dead_pid();
    if (pid == 0 || !lay_out(run, L"0", 0)) return std::nullopt;
    support::FileLock lock(run.app, 60000);
    if (!lock.wait_until_taken()) return std::nullopt;
    const Timed helper = start_helper(pid, run);
    sleep_until(helper.start_ms + 3500);
    const std::uint64_t released_ms = epoch_ms();
    lock.release();
    const std::optional<DWORD> code = wait_exit(helper.started);
    const std::vector<support::ProbeRecord> installs = support::read_probe_log(run.installer_log);
    if (code != 0u || installs.size() != 1) return std::nullopt;
    return span(released_ms, installs[0].time_ms);
}

// --- CPU while waiting -----------------------------------------------------------------------------

// The Linux process of a Wine program, seen through drive Z:: the one whose command line holds
// both texts.
std::wstring linux_pid(const std::string& program, const std::string& marker) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    const vellomar::UniqueFind owner(find);
    for (bool more = owner.valid(); more; more = FindNextFileW(find, &entry)) {
        const std::wstring pid = entry.cFileName;
        const std::string command_line = support::read_bytes(L"Z:\\proc\\" + pid + L"\\cmdline");
        if (command_line.find(program) != std::string::npos && command_line.find(marker) != std::string::npos) {
            return pid;
        }
    }
    return {};
}

// CPU time from Linux's scheduler statistics (nanoseconds), summed over the process's threads.
// Wine 8 answers GetProcessTimes for another process with the caller's own times, and counts
// thread times in 10 ms ticks.
std::optional<double> cpu_ms(const std::wstring& pid) {
    const std::wstring tasks = L"Z:\\proc\\" + pid + L"\\task\\";
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((tasks + L"*").c_str(), &entry);
    const vellomar::UniqueFind owner(find);
    std::optional<double> total;
    for (bool more = !pid.empty() && owner.valid(); more; more = FindNextFileW(find, &entry)) {
        const std::string statistics = support::read_bytes(tasks + entry.cFileName + L"\\schedstat");
        if (!statistics.empty()) total = total.value_or(0) + std::stod(statistics) / 1e6;
    }
    return total;
}

// The helper's CPU time over 10 s of its wait, from `first_ms` after its start; then it is ended.
std::optional<double> cpu_while_waiting(const Timed& helper, const Run& run, std::uint64_t first_ms) {
    sleep_until(helper.start_ms + 300);
    const std::wstring& dir = run.dir.path();
    const std::wstring pid = linux_pid("vellomar-update.exe", support::to_utf8(dir.substr(dir.find_last_of(L'\\'))));
    sleep_until(helper.start_ms + first_ms);
    const std::optional<double> before = cpu_ms(pid);
    sleep_until(helper.start_ms + first_ms + 10000);
    const std::optional<double> after = cpu_ms(pid);
    const bool still_waiting = WaitForSingleObject(helper.started.process.get(), 0) == WAIT_TIMEOUT;
    (void)TerminateProcess(helper.started.process.get(), 0xDEAD);
    if (!before || !after || !still_waiting) return std::nullopt;
    return *after - *before;
}

// A live application for 12.5 s; sampled from 1 s, once the helper's start is over.
std::optional<double> cpu_waiting_for_app() {
    const Run run;
    if (!lay_out(run, L"0", 12500)) return std::nullopt;
    const Timed app = start(run.app, L"");
    if (!support::poll_until([&] { return records(run.app_log) == 1; }, 5000)) return std::nullopt;
    const std::optional<double> cpu = cpu_while_waiting(start_helper(app.started.id, run), run, 1000);
    (void)TerminateProcess(app.started.process.get(), 0);
    return cpu;
}

// A dead id and an executable held for 13.5 s; sampled from 2.3 s, once the 2 s pause is over.
std::optional<double> cpu_waiting_for_unlock() {
    const Run run;
    const DWORD pid = dead_pid();
    if (pid == 0 || !lay_out(run, L"0", 0)) return std::nullopt;
    support::FileLock lock(run.app, 13500);
    if (!lock.wait_until_taken()) return std::nullopt;
    return cpu_while_waiting(start_helper(pid, run), run, 2300);
}

// --- report --------------------------------------------------------------------------------------

struct Stats {
    double median = 0;
    double max = 0;
    std::size_t count = 0;
};

Stats stats(Samples values) {
    Stats result;
    result.count = values.size();
    if (values.empty()) return result;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    result.median = values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    result.max = values.back();
    return result;
}

void floor_row(const char* what, const Samples& values) {
    const Stats s = stats(values);
    std::printf("| %s | %.1f | %.1f | %zu |\n", what, s.median, s.max, s.count);
}

void helper_row(const std::string& what, const std::string& floor_text, double floor_ms, const Samples& values) {
    const Stats s = stats(values);
    std::printf("| %s | %s = %.0f | %.1f | %.1f | %.1f | %.1f | %zu |\n", what.c_str(), floor_text.c_str(), floor_ms,
                s.median, s.max, s.median - floor_ms, s.max - floor_ms, s.count);
}

struct Results {
    Samples process, installer_ok, installer_failing, installer_start, box;
    Samples path_a, path_b, path_c, to_exit, to_unlock, cpu_app, cpu_lock;
};

void add(Samples& to, const std::optional<double>& value, const char* what, int round) {
    if (value) to.push_back(*value);
    if (!value) std::fprintf(stderr, "%s: run %d left out\n", what, round + 1);
}

// One run of every measurement, floors and helper alike, so that whatever disturbs Wine for a while
// (a box, a console, an open through the shell) weighs on both.
void measure_round(Results& r, int i, bool with_cpu) {
    add(r.process, process_floor(), "P", i);
    const std::optional<Direct> ok = installer_direct(L"0");
    add(r.installer_ok, ok ? ok->run_ms : std::optional<double>(), "I0", i);
    if (ok) r.installer_start.push_back(ok->start_ms);
    const std::optional<Direct> failing = installer_direct(L"1");
    add(r.installer_failing, failing ? failing->run_ms : std::optional<double>(), "I1", i);
    add(r.box, time_to_box(noop_path(), L" box"), "B", i);
    add(r.path_a, helper_path(L"0", 1, 1), "(a)", i);
    add(r.path_b, helper_path(L"1", 4, 0), "(b)", i);
    add(r.path_c, time_to_box(support::helper_path(), L""), "(c)", i);
    add(r.to_exit, reaction_to_exit(), "reaction to exit", i);
    add(r.to_unlock, reaction_to_unlock(), "reaction to unlock", i);
    if (!with_cpu) return;
    add(r.cpu_app, cpu_waiting_for_app(), "CPU waiting for the application", i);
    add(r.cpu_lock, cpu_waiting_for_unlock(), "CPU waiting for the unlock", i);
}

// The helper's size (the link strips it) and imports, judged by the rules of its PE image test.
void print_image() {
    const std::optional<support::PeImage> image = support::read_pe_image(support::own_directory() + L"vellomar-update.exe");
    if (!image) {
        std::printf("\nThe helper's image could not be read.\n");
        return;
    }
    std::string imports, foreign;
    for (const std::string& name : image->imports) {
        imports += (imports.empty() ? "" : " ") + name;
        if (!support::is_system_dll(name)) foreign += " " + name;
    }
    const std::size_t budget = support::helper_size_budget_kib;
    std::printf("\nSize and imports\n\n| what | value | target |\n|---|---|---|\n");
    std::printf("| size | %zu bytes = %.1f KiB | ≤ %zu KiB: %s |\n", image->file_size, image->file_size / 1024.0, budget,
                image->file_size <= budget * 1024 ? "met" : "missed");
    std::printf("| imports | %s | system DLLs only: %s%s |\n", imports.c_str(), foreign.empty() ? "met" : "missed:",
                foreign.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int runs = 5;
    if (argc == 3 && std::wstring(argv[1]) == L"--runs") {
        runs = std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    } else if (argc != 1) {
        std::fputs("usage: helper_bench [--runs N]\n", stderr);
        return 2;
    }
    // The first box, the first copy of a program and the first helper start pay for caches that
    // every later run finds filled; one untimed round keeps that out of the medians.
    std::fprintf(stderr, "warming up...\n");
    Results ignored;
    measure_round(ignored, 0, false);
    Results r;
    for (int i = 0; i < runs; ++i) {
        std::fprintf(stderr, "round %d of %d (about 50 s)...\n", i + 1, runs);
        measure_round(r, i, true);
    }
    const double p = stats(r.process).median;
    const double i0 = stats(r.installer_ok).median;
    const double i1 = stats(r.installer_failing).median;
    const double s = stats(r.installer_start).median;
    const double b = stats(r.box).median;

    std::printf("Runs per measurement: %d. Times in ms; \"runs\" counts the runs that gave a value.\n\n", runs);
    std::printf("Floors: what Wine itself charges\n\n| floor | median | max | runs |\n|---|---|---|---|\n");
    floor_row("P: bench_noop (the helper's imports, no work), start to end", r.process);
    floor_row("I0: installer stand-in (exit 0) started directly with the helper's arguments, start to end",
              r.installer_ok);
    floor_row("I1: the same with exit code 1", r.installer_failing);
    floor_row("S: the installer stand-in's process start, start to its log record", r.installer_start);
    floor_row("B: bench_noop box (the helper's imports, one error box), start to its box", r.box);

    std::printf(
        "\nThe helper over its floor: the pauses it makes plus the floors above (medians)\n\n"
        "| measurement | floor | median | max | over the floor, median | max | runs |\n"
        "|---|---|---|---|---|---|---|\n");
    const std::string waits = text(vellomar::unopenable_process_pause_ms) + " + " + text(vellomar::settling_pause_ms);
    const std::string settling = text(vellomar::settling_pause_ms) + " + S";
    helper_row("(a) dead pid, installer succeeds: start to end", "P + " + waits + " + I0",
               p + dead_pid_pause_ms + settling_pause_ms + i0, r.path_a);
    helper_row("(b) " + text(attempts) + " failures, then the shell: start to end",
               "P + " + waits + " + " + text(attempts) + " × I1 + " + text(attempts - 1) + " × " +
                   text(vellomar::retry_pause_ms),
               p + dead_pid_pause_ms + settling_pause_ms + attempts * i1 + (attempts - 1) * retry_pause_ms, r.path_b);
    helper_row("(c) bad options: start to its box", "B", b, r.path_c);
    helper_row("application exit to installer start", settling, settling_pause_ms + s, r.to_exit);
    helper_row("unlock to installer start (one probe every " + text(vellomar::unlock_probe_pause_ms) + " ms)", settling,
               settling_pause_ms + s, r.to_unlock);

    std::printf(
        "\nCPU while waiting (ms, Linux's scheduler statistics of the helper's process)\n\n"
        "| what | median | max | runs |\n|---|---|---|---|\n");
    floor_row("10 s waiting for a live application", r.cpu_app);
    floor_row("10 s waiting for a locked executable", r.cpu_lock);
    print_image();
    return 0;
}
