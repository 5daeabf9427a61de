// helper_bench: what the helper costs under Wine beyond the pauses its behaviour mandates and what
// Wine itself charges. Not a test: bench/run builds it, runs it and prints its tables.
//   helper_bench [--runs N]
// Each measurement runs N times (default 5); the tables give the median and the maximum. Installer
// and application are copies of child_probe, a locked executable is held by lock_probe, and
// bench_noop.exe stands for Wine's own costs; all are found beside this program.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "probe_support.h"
#include "processes.h"

namespace {

using probe::epoch_ms;
using probe::in_quotes;
using Samples = std::vector<double>;

// The pauses the helper's behaviour mandates.
constexpr double dead_pid_pause_ms = 2000;
constexpr double settling_pause_ms = 800;
constexpr double retry_pause_ms = 1000;

int runs = 5;

const std::wstring& noop_path() {
    static const std::wstring path = probe::own_directory() + L"bench_noop.exe";
    return path;
}

void left_out(const char* what, int run) { std::fprintf(stderr, "%s: run %d left out\n", what, run + 1); }

// Wine tears a process down for a while after its handle is signalled; a run that starts at once
// pays for part of that, so runs are spaced.
void pause_between_runs() { Sleep(300); }

void sleep_until(std::uint64_t time_ms) {
    const std::uint64_t now = epoch_ms();
    if (time_ms > now) Sleep(static_cast<DWORD>(time_ms - now));
}

double span(std::uint64_t from_ms, std::uint64_t to_ms) {
    return static_cast<double>(to_ms) - static_cast<double>(from_ms);
}

struct Timed {
    std::uint64_t start_ms = 0;  // just before CreateProcessW
    probe::StartedProcess started;
};

Timed start(const std::wstring& program, const std::wstring& tail, DWORD flags = 0,
            const std::wstring& directory = {}) {
    Timed timed;
    timed.start_ms = epoch_ms();
    timed.started = probe::start_process(program, in_quotes(program) + tail, flags, directory);
    return timed;
}

// The exit code; nothing when the process did not start or did not end within a minute.
std::optional<DWORD> wait_exit(const probe::StartedProcess& process) {
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
std::uint64_t exit_ms(const probe::StartedProcess& process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process.process.get(), &created, &exited, &kernel, &user)) return 0;
    return epoch_ms(exited);
}

std::size_t records(const std::wstring& log) { return probe::read_probe_log(log).size(); }

// A package and an installed application as an application lays them out, both copies of
// child_probe that log beside them: <dir>\pkg\setup.exe and <dir>\App Dir\app.exe.
struct Run {
    probe::ScratchDirectory dir{L"bench"};
    std::wstring package_dir = dir / L"pkg";
    std::wstring installer = dir / L"pkg\\setup.exe";
    std::wstring installer_log = dir / L"installer.log";
    std::wstring app_dir = dir / L"App Dir";
    std::wstring app = dir / L"App Dir\\app.exe";
    std::wstring app_log = dir / L"app.log";
};

[[nodiscard]] bool lay_out(const Run& run, const wchar_t* installer_exit_codes, DWORD app_sleep_ms) {
    return CreateDirectoryW(run.package_dir.c_str(), nullptr) && CreateDirectoryW(run.app_dir.c_str(), nullptr) &&
           probe::place_probe(run.installer, run.installer_log, installer_exit_codes) &&
           probe::place_probe(run.app, run.app_log, L"0", app_sleep_ms);
}

// The helper started as the application starts it: in the package's directory, no handles.
Timed start_helper(DWORD pid, const Run& run) {
    return start(probe::helper_path(),
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
    return probe::poll_until(gone, 5000) ? id : 0;
}

// --- the floors ----------------------------------------------------------------------------------

Samples process_floor() {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Timed noop = start(noop_path(), L"");
        if (wait_exit(noop.started) == 0u) times.push_back(span(noop.start_ms, epoch_ms()));
    }
    return times;
}

struct Direct {
    Samples run_ms;    // start to end
    Samples start_ms;  // start to its log record: the process start Wine charges
};

// The installer stand-in started directly with the helper's arguments.
Direct installer_direct(const wchar_t* exit_codes) {
    Direct direct;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        if (!lay_out(run, exit_codes, 0)) {
            left_out("installer started directly", i);
            continue;
        }
        // A just-written executable starts tens of ms slower; the helper's installer was written
        // seconds before it runs.
        Sleep(1000);
        // A console program: started by the helper, which has no console, it gets one of its own
        // (and Wine a conhost.exe for it); started from here it would share ours.
        const Timed installer =
            start(run.installer, L" /S /UPDATE /D=" + run.app_dir, CREATE_NEW_CONSOLE, run.package_dir);
        const bool ended = wait_exit(installer.started).has_value();
        const std::uint64_t end_ms = epoch_ms();
        const std::vector<probe::ProbeRecord> log = probe::read_probe_log(run.installer_log);
        if (!ended || log.size() != 1) {
            left_out("installer started directly", i);
            continue;
        }
        direct.run_ms.push_back(span(installer.start_ms, end_ms));
        direct.start_ms.push_back(span(installer.start_ms, log[0].time_ms));
    }
    return direct;
}

// From CreateProcessW to a visible box of that process with the helper's caption; the watch then
// reads it and presses OK, as a user would.
Samples time_to_box(const std::wstring& program, const std::wstring& tail) {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Timed child = start(program, tail);
        probe::BoxWatch watch(child.started.id, probe::helper_caption);
        const bool ended = child.started.process.valid() && wait_exit(child.started).has_value();
        const std::vector<probe::MessageBoxRecord> boxes = watch.stop();
        if (!ended || boxes.size() != 1) {
            left_out("box", i);
            continue;
        }
        times.push_back(span(child.start_ms, boxes[0].seen_ms));
    }
    return times;
}

// --- the helper ----------------------------------------------------------------------------------

// Path (a) with installer exit code 0, path (b) with 1: a dead id, an unlocked executable, then
// the installer. (a) ends with the relaunch (one installer record, one application record), (b)
// with the installer opened through the shell (three silent records and that one).
Samples helper_path(const wchar_t* exit_codes, std::size_t installer_records, std::size_t app_records) {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        const DWORD pid = dead_pid();
        if (pid == 0 || !lay_out(run, exit_codes, 0)) {
            left_out("path", i);
            continue;
        }
        const Timed helper = start_helper(pid, run);
        const std::optional<DWORD> code = wait_exit(helper.started);
        const double elapsed = span(helper.start_ms, epoch_ms());
        // What the helper started last may log after the helper has ended.
        const auto logged = [&] {
            return records(run.installer_log) == installer_records && records(run.app_log) == app_records;
        };
        if (code != 0u || !probe::poll_until(logged, 5000)) {
            left_out("path", i);
            continue;
        }
        times.push_back(elapsed);
    }
    return times;
}

// The application, alive when the helper starts, exits 1.5 s later; its exit, by the system's
// record, to the installer's record.
Samples reaction_to_exit() {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        if (!lay_out(run, L"0", 1500)) continue;
        const Timed app = start(run.app, L"");
        if (!probe::poll_until([&] { return records(run.app_log) == 1; }, 5000)) continue;
        const Timed helper = start_helper(app.started.id, run);
        const std::optional<DWORD> code = wait_exit(helper.started);
        const std::vector<probe::ProbeRecord> installs = probe::read_probe_log(run.installer_log);
        const std::uint64_t app_end_ms = exit_ms(app.started);
        if (code != 0u || installs.size() != 1 || app_end_ms < helper.start_ms) {
            left_out("reaction to exit", i);
            continue;
        }
        times.push_back(span(app_end_ms, installs[0].time_ms));
    }
    return times;
}

// A dead id and the executable held past the 2 s pause, then released 3.5 s after the helper's
// start by ending its holder; from that moment to the installer's record.
Samples reaction_to_unlock() {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        const DWORD pid = dead_pid();
        if (pid == 0 || !lay_out(run, L"0", 0)) continue;
        probe::FileLock lock(run.app, 60000);
        if (!lock.wait_until_taken()) continue;
        const Timed helper = start_helper(pid, run);
        sleep_until(helper.start_ms + 3500);
        const std::uint64_t released_ms = epoch_ms();
        lock.release();
        const std::optional<DWORD> code = wait_exit(helper.started);
        const std::vector<probe::ProbeRecord> installs = probe::read_probe_log(run.installer_log);
        if (code != 0u || installs.size() != 1) {
            left_out("reaction to unlock", i);
            continue;
        }
        times.push_back(span(released_ms, installs[0].time_ms));
    }
    return times;
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
        const std::string command_line = probe::read_bytes(L"Z:\\proc\\" + pid + L"\\cmdline");
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
        const std::string statistics = probe::read_bytes(tasks + entry.cFileName + L"\\schedstat");
        if (!statistics.empty()) total = total.value_or(0) + std::stod(statistics) / 1e6;
    }
    return total;
}

// The helper's CPU time over 10 s of its wait, from `first_ms` after its start; then it is ended.
std::optional<double> cpu_while_waiting(const Timed& helper, const Run& run, std::uint64_t first_ms) {
    sleep_until(helper.start_ms + 300);
    const std::wstring& dir = run.dir.path();
    const std::wstring pid = linux_pid("vellomar-update.exe", probe::to_utf8(dir.substr(dir.find_last_of(L'\\'))));
    sleep_until(helper.start_ms + first_ms);
    const std::optional<double> before = cpu_ms(pid);
    sleep_until(helper.start_ms + first_ms + 10000);
    const std::optional<double> after = cpu_ms(pid);
    const bool still_waiting = WaitForSingleObject(helper.started.process.get(), 0) == WAIT_TIMEOUT;
    (void)TerminateProcess(helper.started.process.get(), 0xDEAD);
    if (!before || !after || !still_waiting) return std::nullopt;
    return *after - *before;
}

// A live application for 11.5 s; sampled from 1 s, once the helper's start is over.
Samples cpu_waiting_for_app() {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        if (!lay_out(run, L"0", 11500)) continue;
        const Timed app = start(run.app, L"");
        if (!probe::poll_until([&] { return records(run.app_log) == 1; }, 5000)) continue;
        const std::optional<double> cpu = cpu_while_waiting(start_helper(app.started.id, run), run, 1000);
        (void)TerminateProcess(app.started.process.get(), 0);
        if (!cpu) left_out("CPU waiting for the application", i);
        if (cpu) times.push_back(*cpu);
    }
    return times;
}

// A dead id and an executable held for 13.5 s; sampled from 2.3 s, once the 2 s pause is over.
Samples cpu_waiting_for_unlock() {
    Samples times;
    for (int i = 0; i < runs; ++i) {
        pause_between_runs();
        const Run run;
        const DWORD pid = dead_pid();
        if (pid == 0 || !lay_out(run, L"0", 0)) continue;
        probe::FileLock lock(run.app, 13500);
        if (!lock.wait_until_taken()) continue;
        const std::optional<double> cpu = cpu_while_waiting(start_helper(pid, run), run, 2300);
        if (!cpu) left_out("CPU waiting for the unlock", i);
        if (cpu) times.push_back(*cpu);
    }
    return times;
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

void helper_row(const char* what, const char* floor_text, double floor_ms, const Samples& values) {
    const Stats s = stats(values);
    std::printf("| %s | %s = %.0f | %.1f | %.1f | %.1f | %.1f | %zu |\n", what, floor_text, floor_ms, s.median, s.max,
                s.median - floor_ms, s.max - floor_ms, s.count);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--runs") {
        runs = std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10)));
    } else if (argc != 1) {
        std::fputs("usage: helper_bench [--runs N]\n", stderr);
        return 2;
    }
    const std::wstring helper = probe::helper_path();

    // The first box, the first copy of a program and the first helper start pay for caches that
    // every later run finds filled; one untimed round keeps that out of the medians.
    std::fprintf(stderr, "warming up...\n");
    const int chosen_runs = runs;
    runs = 1;
    (void)process_floor();
    (void)installer_direct(L"0");
    (void)time_to_box(noop_path(), L" box");
    (void)time_to_box(helper, L"");
    runs = chosen_runs;

    std::fprintf(stderr, "floors...\n");
    const Samples process = process_floor();
    const Direct installer_ok = installer_direct(L"0");
    const Direct installer_failing = installer_direct(L"1");
    const Samples box = time_to_box(noop_path(), L" box");
    std::fprintf(stderr, "paths (a), (b), (c), reactions...\n");
    const Samples path_a = helper_path(L"0", 1, 1);
    const Samples path_b = helper_path(L"1", 4, 0);
    const Samples path_c = time_to_box(helper, L"");
    const Samples to_exit = reaction_to_exit();
    const Samples to_unlock = reaction_to_unlock();
    std::fprintf(stderr, "CPU while waiting (about 13 s a run)...\n");
    const Samples cpu_app = cpu_waiting_for_app();
    const Samples cpu_lock = cpu_waiting_for_unlock();

    const double p = stats(process).median;
    const double i0 = stats(installer_ok.run_ms).median;
    const double i1 = stats(installer_failing.run_ms).median;
    const double s = stats(installer_ok.start_ms).median;
    const double b = stats(box).median;

    std::printf("Runs per measurement: %d. Times in ms; \"runs\" counts the runs that gave a value.\n\n", runs);
    std::printf("Floors: what Wine itself charges\n\n| floor | median | max | runs |\n|---|---|---|---|\n");
    floor_row("P: bench_noop (the helper's imports, no work), start to end", process);
    floor_row("I0: installer stand-in (exit 0) started directly with the helper's arguments, start to end",
              installer_ok.run_ms);
    floor_row("I1: the same with exit code 1", installer_failing.run_ms);
    floor_row("S: the installer stand-in's process start, start to its log record", installer_ok.start_ms);
    floor_row("B: bench_noop box (the helper's imports, one error box), start to its box", box);

    std::printf(
        "\nThe helper over its floor: the mandated pauses plus the floors above (medians)\n\n"
        "| measurement | floor | median | max | over the floor, median | max | runs |\n"
        "|---|---|---|---|---|---|---|\n");
    helper_row("(a) dead pid, installer succeeds: start to end", "P + 2000 + 800 + I0",
               p + dead_pid_pause_ms + settling_pause_ms + i0, path_a);
    helper_row("(b) three failures, then the shell: start to end", "P + 2000 + 800 + 3 × I1 + 2 × 1000",
               p + dead_pid_pause_ms + settling_pause_ms + 3 * i1 + 2 * retry_pause_ms, path_b);
    helper_row("(c) bad options: start to its box", "B", b, path_c);
    helper_row("application exit to installer start", "800 + S", settling_pause_ms + s, to_exit);
    helper_row("unlock to installer start (one probe every 200 ms)", "800 + S", settling_pause_ms + s, to_unlock);

    std::printf(
        "\nCPU while waiting (ms, Linux's scheduler statistics of the helper's process)\n\n"
        "| what | median | max | runs |\n|---|---|---|---|\n");
    floor_row("10 s waiting for a live application", cpu_app);
    floor_row("10 s waiting for a locked executable", cpu_lock);
    return 0;
}
