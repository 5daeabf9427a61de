// split_command_line against the C runtime itself: random command lines are split by argv_probe,
// once as real child processes and once in bulk, and must give exactly the same arguments.
#include "core/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "platform/handles.h"
#include "probes.h"
#include "program_runs.h"

namespace vellomar {
namespace {

using Arguments = std::vector<std::u16string>;

constexpr std::uint32_t seed = 0x5EED2008;

// Argument 0 stays simple: the runtime's own program-name rule is not the subject here, and
// runtimes differ on `\"` and `""` in it.
const std::u16string program_names[] = {
    u"argv_probe.exe",
    uR"("C:\Program Files\Vellomar\argv_probe.exe")",
    uR"(C:\probe\argv_probe.exe)",
    u"",  // the line then starts with a space: an empty argument 0
};

// Weighted towards what the rules are about: blanks, quotes and backslash runs.
std::u16string random_piece(std::mt19937& engine) {
    static const std::u16string pieces[] = {
        u" ", u"  ", u"\t", u"\"", u"\"", u"\"", u"\"\"", u"a", u"b", u"xy", u"安装", u"程序",
        u"\U0001F600", u"\n", u"\u3000", u"\u00A0", u"'", u"=", u"--pid", u"/",
    };
    const std::uint32_t choice = engine() % 100;
    if (choice < 25) {
        return std::u16string(1 + engine() % 5, u'\\');
    }
    if (choice < 30) {
        // Any surrogate on its own; two in a row sometimes make a valid pair, which is fine.
        return std::u16string(1, static_cast<char16_t>(0xD800 + engine() % 0x800));
    }
    return pieces[engine() % std::size(pieces)];
}

std::u16string random_command_line(std::mt19937& engine) {
    std::u16string line = program_names[engine() % std::size(program_names)] + u" ";
    const std::uint32_t piece_count = engine() % 40;
    for (std::uint32_t i = 0; i < piece_count; ++i) {
        line += random_piece(engine);
    }
    return line;
}

// Starts argv_probe with exactly `command_line`; the probe reads its files from the environment,
// which the child copies at creation.
UniqueHandle start_probe(const std::u16string& command_line, const std::wstring& input, const std::wstring& output) {
    (void)SetEnvironmentVariableW(L"VELLOMAR_ARGV_PROBE_INPUT", input.empty() ? nullptr : input.c_str());
    (void)SetEnvironmentVariableW(L"VELLOMAR_ARGV_PROBE_OUTPUT", output.c_str());
    support::StartedProcess started =
        support::start_process(support::own_directory() + L"argv_probe.exe", support::wide(command_line));
    (void)SetEnvironmentVariableW(L"VELLOMAR_ARGV_PROBE_INPUT", nullptr);
    (void)SetEnvironmentVariableW(L"VELLOMAR_ARGV_PROBE_OUTPUT", nullptr);
    return std::move(started.process);
}

std::optional<DWORD> exit_code_of(const UniqueHandle& process) {
    DWORD code = 0;
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &code)) {
        return std::nullopt;
    }
    return code;
}

TEST(CrtOracle, RealChildrenReceiveTheArgumentsSplitCommandLineGives) {
    const support::ScratchDirectory directory(L"argv");
    ASSERT_FALSE(directory.path().empty());
    const std::wstring output = directory / L"argv.bin";
    // The edge cases of the splitting rules first, then random lines.
    std::vector<std::u16string> lines = {
        uR"(argv_probe.exe a ")", uR"(argv_probe.exe x "")", uR"(argv_probe.exe "" "" x)", uR"(argv_probe.exe "a""b")",
        uR"(argv_probe.exe """a b""")", uR"(argv_probe.exe a"b"" c d)", uR"(argv_probe.exe "a\"" b")",
        uR"(argv_probe.exe a\"b "c\" d\)", u"argv_probe.exe 	 a 	 ", u" leading.exe a",
        uR"("argv_probe.exe"x y)", uR"(argv_probe.exe "lone)",
        // A helper's command line as the handover library writes it.
        u"\"C:\\\u4e0b\u8f7d\\app.handover.exe\" --pid 42 --installer \"C:\\\u4e0b\u8f7d\\setup 2.exe\" "
        u"--install-dir \"C:\\App \U0001F600\\\\\" --version \"2.0 \\\"rc\\\"\t\\\\\\\\\\\"x\\\\\"",
    };
    std::mt19937 engine(seed);
    while (lines.size() < 200) {
        lines.push_back(random_command_line(engine));
    }
    int compared_ucrt = 0;
    int compared_msvcrt = 0;
    for (const std::u16string& line : lines) {
        SCOPED_TRACE(testing::PrintToString(line));
        const UniqueHandle process = start_probe(line, L"", output);
        ASSERT_TRUE(process.valid());
        ASSERT_EQ(exit_code_of(process), DWORD{0});
        const std::vector<Arguments> records = support::read_lists(support::read_bytes(output));
        ASSERT_EQ(records.size(), 2u);
        const Arguments expected = split_command_line(line, u"");
        EXPECT_EQ(records[1], expected) << "ucrtbase";
        ++compared_ucrt;
        // msvcrt.dll predates the 2008 rule for `""` inside quotes, which Windows' copy may still
        // follow; elsewhere the old and new rules agree.
        if (line.find(u"\"\"") == std::u16string::npos) {
            EXPECT_EQ(records[0], expected) << "msvcrt argv of wmain";
            ++compared_msvcrt;
        }
    }
    std::printf("real children: %d command lines compared with ucrtbase, %d with msvcrt\n", compared_ucrt,
                compared_msvcrt);
}

TEST(CrtOracle, RuntimeSplitsTenThousandCommandLinesLikeSplitCommandLine) {
    constexpr int line_count = 10000;
    constexpr int probe_count = 2;  // one per core of a small machine; each reloads ucrtbase per line
    const support::ScratchDirectory directory(L"argv-batch");
    ASSERT_FALSE(directory.path().empty());
    std::mt19937 engine(seed + 1);
    std::vector<std::u16string> lines;
    for (int i = 0; i < line_count; ++i) {
        lines.push_back(random_command_line(engine));
    }

    // The probe overwrites its own command line with each input line, so it starts with a longer one.
    const std::u16string padded_command_line = u"argv_probe.exe " + std::u16string(4096, u'x');
    std::vector<UniqueHandle> probes;
    for (int p = 0; p < probe_count; ++p) {
        const std::vector<std::u16string> share(lines.begin() + p * line_count / probe_count,
                                                lines.begin() + (p + 1) * line_count / probe_count);
        const std::wstring input = directory / (L"in" + std::to_wstring(p) + L".bin");
        std::string bytes;
        support::append_list(bytes, share);
        ASSERT_TRUE(support::write_bytes(input, bytes));
        probes.push_back(start_probe(padded_command_line, input, directory / (L"out" + std::to_wstring(p) + L".bin")));
        ASSERT_TRUE(probes.back().valid());
    }
    std::vector<Arguments> records;
    for (int p = 0; p < probe_count; ++p) {
        ASSERT_EQ(exit_code_of(probes[p]), DWORD{0}) << "probe " << p;
        const std::vector<Arguments> part =
            support::read_lists(support::read_bytes(directory / (L"out" + std::to_wstring(p) + L".bin")));
        records.insert(records.end(), part.begin(), part.end());
    }

    ASSERT_EQ(records.size(), lines.size());
    int mismatches = 0;
    for (std::size_t i = 0; i < lines.size() && mismatches < 10; ++i) {
        const Arguments expected = split_command_line(lines[i], u"");
        if (records[i] != expected) {
            ++mismatches;
            ADD_FAILURE() << testing::PrintToString(lines[i]) << "\n  ucrtbase: " << testing::PrintToString(records[i])
                          << "\n  ours:     " << testing::PrintToString(expected);
        }
    }
    std::printf("bulk: %zu command lines compared with ucrtbase\n", lines.size());
}

}  // namespace
}  // namespace vellomar
