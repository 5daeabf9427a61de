// The handover library's decisions and its record format, on plain facts: what Wine cannot show
// (a job, the session's end, a scanner holding a fresh copy) and the record's every torn shape.
#include "core/handover_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "record_format.h"

namespace vellomar {
namespace {

TEST(HandoverPlan, RefusesOrLeavesTheJobAsTheFactsSay) {
    const JobFacts no_job{};
    const JobFacts unknown{JobMembership::unknown, false, false, false};
    const JobFacts limits_unknown{JobMembership::member, false, false, false};
    const JobFacts breakaway_kills{JobMembership::member, true, true, true};
    const JobFacts breakaway_keeps{JobMembership::member, true, true, false};
    const JobFacts locked_kills{JobMembership::member, true, false, true};
    const JobFacts locked_keeps{JobMembership::member, true, false, false};
    const struct {
        const char* name;
        StartFacts facts;
        std::uint32_t refusal;
        JobStart job;
    } cases[] = {
        {"shutdown first", {true, true, true, locked_kills}, 1115, JobStart::plain},
        {"a helper still runs", {false, true, true, no_job}, 183, JobStart::plain},
        {"elevation before the job", {false, false, true, locked_kills}, 740, JobStart::plain},
        {"no job", {false, false, false, no_job}, 0, JobStart::plain},
        {"membership unknown", {false, false, false, unknown}, 0, JobStart::breakaway},
        {"limits unknown", {false, false, false, limits_unknown}, 0, JobStart::breakaway},
        {"breakaway, kills on close", {false, false, false, breakaway_kills}, 0, JobStart::breakaway},
        {"breakaway, keeps on close", {false, false, false, breakaway_keeps}, 0, JobStart::breakaway_else_inside},
        {"no breakaway, kills on close", {false, false, false, locked_kills}, 5, JobStart::plain},
        {"no breakaway, keeps on close", {false, false, false, locked_keeps}, 0, JobStart::plain},
    };
    for (const auto& c : cases) {
        const StartPlan plan = plan_start(c.facts);
        EXPECT_EQ(plan.refusal, c.refusal) << c.name;
        EXPECT_EQ(plan.job, c.job) << c.name;
    }
}

TEST(HandoverRetry, TenTriesTwoHundredMillisecondsApartForARefusalOutsideAJob) {
    EXPECT_EQ(refused_start_attempts, 10);
    EXPECT_EQ(refused_start_pause_ms, 200u);
    const struct {
        std::uint32_t error;
        int attempts_made;
        JobMembership membership;
        bool retry;
    } cases[] = {
        {32, 1, JobMembership::none, true},     {5, 9, JobMembership::none, true},
        {5, 10, JobMembership::none, false},    {5, 1, JobMembership::member, false},
        {32, 1, JobMembership::unknown, false}, {2, 1, JobMembership::none, false},
        {1224, 1, JobMembership::none, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(retry_refused(c.error, c.attempts_made, c.membership), c.retry)
            << c.error << " after " << c.attempts_made;
    }
}

TEST(HandoverJudge, UpdatedNeedsTheTargetAndSomethingInstalled) {
    const struct {
        const char* name;
        OutcomeFacts facts;
        Outcome expected;
    } cases[] = {
        {"relaunched before the helper ended", {u"2.0", u" 2.0\n", true, true, true}, Outcome::updated},
        {"package gone", {u"2.0", u"2.0", false, false, false}, Outcome::updated},
        {"repair that installed nothing", {u"2.0", u"2.0", false, true, false}, Outcome::not_applied},
        {"repair still running", {u"2.0", u"2.0", false, true, true}, Outcome::in_progress},
        {"opened again while waiting", {u"2.0", u"1.0", true, true, true}, Outcome::in_progress},
        {"failed", {u"2.0", u"1.0", true, true, false}, Outcome::not_applied},
        {"failed, package gone", {u"2.0", u"1.0", true, false, false}, Outcome::none},
        {"no target", {u" ", u"", true, false, false}, Outcome::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judge_outcome(c.facts), c.expected) << c.name;
    }
}

PendingUpdate sample_update() {
    PendingUpdate update;
    update.version = u"2.0 \"rc\"";
    update.package = u"C:\\dl\\setup.exe";
    update.helper_copy = u"C:\\state\\vellomar-update.handover.exe";
    update.launch_file = u"\\\\srv\\share\\app.exe";
    update.application_pid = 4294967295u;
    update.helper_pid = 4;
    update.helper_created = 0x01DB'4A2F'8000'0001u;
    update.launch = FileStamp{0x43000000u, 0xFFFF'0000'0000'FFFFu, 0x0000'0001'0000'0000u};
    return update;
}

// A record's text with one field replaced (by index), or cut.
std::u16string with_field(std::size_t index, std::u16string_view value) {
    std::u16string text = encode_record(sample_update());
    std::size_t start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        start = text.find(u'\0', start) + 1;
    }
    return text.replace(start, text.find(u'\0', start) - start, value);
}

TEST(HandoverRecord, RoundTripsAndTakesEveryOtherShapeAsTorn) {
    const std::u16string whole = encode_record(sample_update());
    const std::optional<PendingUpdate> decoded = decode_record(whole);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(encode_record(*decoded), whole);
    EXPECT_EQ(decoded->helper_created, sample_update().helper_created);
    EXPECT_TRUE(decoded->launch == sample_update().launch);
    std::u16string earlier_format;
    for (const std::u16string_view field :
         {u"vellomar-update pending 1", u"2.0", u"C:\\dl\\setup.exe", u"C:\\dl\\c.exe", u"42", u"end"}) {
        earlier_format += field;
        earlier_format += u'\0';
    }
    const struct {
        const char* name;
        std::u16string text;
    } torn[] = {
        {"empty", u""},
        {"torn tail", whole.substr(0, whole.size() - 1)},
        {"no end", whole.substr(0, whole.size() - 4)},
        {"field after the end", whole + u"x" + std::u16string(1, u'\0')},
        {"wrong magic", with_field(0, u"vellomar-update pending 3")},
        {"earlier format, five fields", earlier_format},
        {"relative package", with_field(2, u"setup.exe")},
        {"relative copy", with_field(3, u"C:c.exe")},
        {"relative launch", with_field(4, u"\\app.exe")},
        {"pid overflow", with_field(5, u"4294967296")},
        {"signed number", with_field(9, u"-1")},
        {"empty number", with_field(13, u"")},
    };
    for (const auto& c : torn) {
        EXPECT_FALSE(decode_record(c.text)) << c.name;
    }
}

TEST(HandoverCopyNames, KeepTheHelpersNameAndNeverThePackagesPath) {
    EXPECT_EQ(copy_name(u"C:\\App\\vellomar-update.exe", 1), u"vellomar-update.handover.exe");
    EXPECT_EQ(copy_name(u"C:\\App\\Upd.EXE", 16), u"Upd.handover-16.exe");
    EXPECT_EQ(copy_name(u"C:\\App\\helper", 2), u"helper.handover-2.exe");
    EXPECT_EQ(copy_name(u"C:\\.exe", 1), u".exe.handover.exe");
    const std::u16string helper = u"C:\\State\\vellomar-update.exe";
    EXPECT_EQ(copy_path(helper, u"C:\\dl\\setup.exe", u"C:\\State\\", 2), u"C:\\State\\vellomar-update.handover-2.exe");
    EXPECT_EQ(copy_path(helper, u"c:\\state\\VELLOMAR-UPDATE.HANDOVER.EXE", u"C:\\State", 1), std::nullopt);
    const struct {
        std::u16string_view name;
        bool copy;
    } names[] = {
        {u"vellomar-update.handover.exe", true}, {u"x.HANDOVER-16.EXE", true}, {u".handover.exe", true},
        {u"setup.exe", false},                   {u"handover.exe", false},     {u"a.handover.exe.probe", false},
        {u"a.handover", false},
    };
    for (const auto& c : names) {
        EXPECT_EQ(is_copy_name(c.name), c.copy) << std::string(c.name.begin(), c.name.end());
    }
}

}  // namespace
}  // namespace vellomar
