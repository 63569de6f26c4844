// The library's output routines: message buffer, plain output, pages and the time record.
// Output is captured by pointing file descriptor 1 at a file for the length of a check.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "lib/lib_data2.h"
#include "lib/lib_fp.h"
#include "tests/support/capture.h"
#include "tests/support/files.h"
#include "tests/support/workdir.h"

namespace {

using stdout_capture = test_support::stream_capture;

// Each test starts with buffering off and the page header disarmed.
class OutputRoutines : public ::testing::Test {
  protected:
    void SetUp() override {
        stdout_capture discard;
        mprint_pull();
        is_show_debinfo_first = 0;
    }
};

TEST_F(OutputRoutines, WithoutPushMorPrintfPrintsAtOnce) {
    stdout_capture out;
    MorPrintf("%s:%d ", "main_on", 90);
    EXPECT_EQ(out.fresh(), "main_on:90 ");
}

TEST_F(OutputRoutines, PushHoldsTextUntilPullThenPrintsDirectly) {
    stdout_capture out;
    mprint_push();
    MorPrintf("%s:%d ", "main_on", 90);
    MorPrintf("%s:%d ", "main_off", 160);
    const std::string while_buffering = out.fresh();
    EXPECT_EQ(mprnP, 24);
    mprint_pull();
    const std::string at_pull = out.fresh();
    MorPrintf("%d", 7);
    const std::string after_pull = out.fresh();

    EXPECT_EQ(while_buffering, "");
    EXPECT_EQ(at_pull, "main_on:90 main_off:160 ");
    EXPECT_EQ(after_pull, "7");
    EXPECT_EQ(mprnP, 0);
    // The text just printed can still be read from the start of the buffer.
    EXPECT_STREQ(mprnD, "main_on:90 main_off:160 ");
}

TEST_F(OutputRoutines, PushThenPullPrintsNothingEvenAfterAnEarlierCycle) {
    stdout_capture out;
    mprint_push();
    MorPrintf("old text");
    mprint_pull();
    out.fresh();
    mprint_push();
    mprint_pull();
    EXPECT_EQ(out.fresh(), "");
}

TEST_F(OutputRoutines, NinetyNinthAppendOfAThousandFlushesAllAndKeepsBuffering) {
    stdout_capture out;
    std::string expected;
    mprint_push();
    for (int i = 0; i < 98; ++i) {
        const std::string piece(1000, static_cast<char>('a' + i % 26));
        MorPrintf("%s", piece.c_str());
        expected += piece;
    }
    const std::string after_98 = out.fresh();
    const int position_after_98 = mprnP;
    const std::string last(1000, 'Z');
    MorPrintf("%s", last.c_str());
    expected += last;
    const std::string after_99 = out.fresh();
    const int position_after_99 = mprnP;
    MorPrintf("tail");
    const std::string after_tail = out.fresh();
    mprint_pull();

    EXPECT_EQ(after_98, "");
    EXPECT_EQ(position_after_98, 98000);
    EXPECT_EQ(after_99.size(), 99000u);
    EXPECT_TRUE(after_99 == expected) << "the 99 appends, in order";
    EXPECT_EQ(position_after_99, 0);
    EXPECT_EQ(after_tail, "") << "buffering goes on after the flush";
    EXPECT_EQ(out.fresh(), "tail");
}

// A text that does not fit in the room left: the held text is printed first, then the new
// text goes into the emptied buffer, or straight out when no buffer could hold it.
TEST_F(OutputRoutines, AppendThatDoesNotFitNeverOverrunsTheBuffer) {
    struct overflow_case {
        const char* what;
        int held;            // bytes in the buffer before the append
        int appended;        // length of the appended text
        bool new_text_held;  // the new text is still in the buffer afterwards
    };
    const overflow_case cases[] = {
        {"fits exactly with its NUL, then flushed at the threshold", 98000, 1999, false},
        {"one byte too long for the room left", 98000, 2000, true},
        {"longer than the headroom", 97000, 5000, true},
        {"as long as the buffer can hold", 10, 99999, false},
        {"as long as the buffer", 10, 100000, false},
        {"longer than the whole buffer", 10, 150000, false},
        {"longer than the whole buffer, nothing held", 0, 150000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string held(static_cast<std::size_t>(c.held), 'h');
        const std::string appended(static_cast<std::size_t>(c.appended), 'n');
        stdout_capture out;
        mprint_push();
        if (c.held > 0) MorPrintf("%s", held.c_str());
        MorPrintf("%s", appended.c_str());
        const std::string printed = out.fresh();
        const int position = mprnP;
        MorPrintf("x");
        const std::string after_next = out.fresh();
        mprint_pull();
        const std::string at_pull = out.fresh();

        if (c.new_text_held) {
            EXPECT_TRUE(printed == held) << "only the held text is flushed";
            EXPECT_EQ(position, c.appended);
            EXPECT_TRUE(at_pull == appended + "x");
        } else {
            EXPECT_TRUE(printed == held + appended) << "held text, then the new text";
            EXPECT_EQ(position, 0);
            EXPECT_EQ(at_pull, "x");
        }
        EXPECT_EQ(after_next, "") << "buffering goes on";
    }
}

TEST_F(OutputRoutines, WritePositionMovedOutsideTheBufferIsBroughtBack) {
    stdout_capture out;
    mprint_push();
    mprnP = -5;
    MorPrintf("abc");
    EXPECT_EQ(mprnP, 3);
    mprnP = 1 << 30;
    MorPrintf("def");  // no room at the last byte: what is held is flushed first
    EXPECT_EQ(mprnP, 3);
    mprnP = 1 << 30;
    mprint_pull();
    EXPECT_EQ(mprnP, 0);
}

TEST_F(OutputRoutines, PullLogPrintsAndAppendsToTheLogFile) {
    test_support::scoped_workdir dir;
    stdout_capture out;
    mprint_push();
    MorPrintf("abc");
    mprint_pull_log();
    const std::string first = out.fresh();
    const auto log_after_first = test_support::read_file(dir.file("mprint.log"));
    mprint_push();
    MorPrintf("%d", 42);
    mprint_pull_log();
    const std::string second = out.fresh();

    EXPECT_EQ(first, "abc");
    EXPECT_EQ(log_after_first, "abc\n\n");
    EXPECT_EQ(second, "42");
    EXPECT_EQ(test_support::read_file(dir.file("mprint.log")), "abc\n\n42\n\n");
}

TEST_F(OutputRoutines, PullLogWithoutAWritableLogStillPrints) {
    test_support::scoped_workdir dir;
    std::filesystem::create_directory(dir.file("mprint.log"));  // cannot be opened as a file
    stdout_capture out;
    mprint_push();
    MorPrintf("abc");
    mprint_pull_log();
    EXPECT_EQ(out.fresh(), "abc");
}

TEST_F(OutputRoutines, PlainRoutinesPrintAtOnceAndCountTheirCharacters) {
    stdout_capture out;
    sprint_push();
    const int first = SorPrintf("%s:%d ", "main_on", 90);
    const std::string after_first = out.fresh();
    const int second = [](const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int printed = vSorPrintf(format, args);
        va_end(args);
        return printed;
    }("%05d|", 42);
    sprint_pull();
    EXPECT_EQ(first, 11);
    EXPECT_EQ(after_first, "main_on:90 ");
    EXPECT_EQ(second, 6);
    EXPECT_EQ(out.fresh(), "00042|");
}

TEST_F(OutputRoutines, PlainTextHeaderIsPrintedOnceAfterInit) {
    for (auto* show : {&show_debinfo, &show_text}) {
        stdout_capture out;
        show("no header %d\n", 0);
        show_debinfo_init();
        const int counted = show("first %d\n", 1);
        show("second\n");
        show_debinfo_init();  // armed again after the header went out
        show("third");
        EXPECT_EQ(counted, 8) << "the header is not counted";
        EXPECT_EQ(out.fresh(),
                  "no header 0\n"
                  "content-type: text/plain\r\n\r\n"
                  "first 1\nsecond\n"
                  "content-type: text/plain\r\n\r\n"
                  "third");
        EXPECT_EQ(is_show_debinfo_first, 0);
    }
}

TEST_F(OutputRoutines, RedirectPagesByteForByte) {
    const std::string header = "content-type: text/html\r\n\r\n<html>\n";
    const std::string end = "</body></html>";
    const std::string quoted = "a\"b'<c>";
    struct page_case {
        void (*redirect)(const char*);
        const char* target;
        std::string expected;
    };
    const page_case cases[] = {
        {&cgi_redirect, "/cgi-bin/ifc.cgi?p=1&q=2",
         header + "<body onload='javascript:location.href=\"/cgi-bin/ifc.cgi?p=1&q=2\";'>\n" + end},
        {&cgi_parent_redirect, "index.html",
         header + "<body onload='javascript:parent.location.href=\"index.html\";'>\n" + end},
        // Inserted unchanged: the caller is the one to vouch for the address.
        {&cgi_redirect, quoted.c_str(),
         header + "<body onload='javascript:location.href=\"" + quoted + "\";'>\n" + end},
        {&cgi_redirect, nullptr, header + "<body onload='javascript:location.href=\"\";'>\n" + end},
    };
    for (const auto& c : cases) {
        stdout_capture out;
        c.redirect(c.target);
        EXPECT_EQ(out.fresh(), c.expected);
    }
}

// Sets TZ for its lifetime.
class time_zone {
  public:
    explicit time_zone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~time_zone() {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

void expect_record(const what_time_record& r, const std::tm& t) {
    EXPECT_EQ(r.second, t.tm_sec);
    EXPECT_EQ(r.minute, t.tm_min);
    EXPECT_EQ(r.hour, t.tm_hour);
    EXPECT_EQ(r.day, t.tm_mday);
    EXPECT_EQ(r.month, t.tm_mon + 1);
    EXPECT_EQ(r.year, t.tm_year + 1900);
    EXPECT_EQ(r.weekday, t.tm_wday);
}

TEST(WhatTime, FieldsInRecordOrderForAFixedZone) {
    time_zone zone("JST-9");
    // Monday 22 January 2024, 14:05:09 at UTC+9.
    const std::time_t when = 1705899909;
    what_time_record r{};
    what_time_at(when, &r);
    EXPECT_EQ(r.second, 9);
    EXPECT_EQ(r.minute, 5);
    EXPECT_EQ(r.hour, 14);
    EXPECT_EQ(r.day, 22);
    EXPECT_EQ(r.month, 1);
    EXPECT_EQ(r.year, 2024);
    EXPECT_EQ(r.weekday, 1);
}

TEST(WhatTime, NowMatchesLocaltime) {
    for (const char* zone_name : {"JST-9", "UTC0", "EST5EDT,M3.2.0,M11.1.0"}) {
        SCOPED_TRACE(zone_name);
        time_zone zone(zone_name);
        what_time_record r{};
        std::time_t before = 0;
        std::time_t after = 1;
        // Read the clock on both sides; retry when a second boundary fell in between.
        for (int attempt = 0; attempt < 5 && before != after; ++attempt) {
            before = std::time(nullptr);
            what_time(&r);
            after = std::time(nullptr);
        }
        ASSERT_EQ(before, after);
        expect_record(r, *std::localtime(&before));
    }
}

TEST(WhatTime, YearBeyondSixteenBitsGivesAnEmptyRecord) {
    time_zone zone("UTC0");
    what_time_record r{1, 1, 1, 1, 1, 1, 1};
    what_time_at(std::time_t{1'200'000'000'000}, &r);  // about the year 40000
    const what_time_record zero{};
    EXPECT_EQ(std::memcmp(&r, &zero, sizeof r), 0);
}

}  // namespace
