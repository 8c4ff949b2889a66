// Checks that need a process of their own, for libraries that read their settings once per
// process (GIO takes the MIME database's folders from the environment at its first use). A
// death test in "threadsafe" style starts the test binary again for the one test, so the
// check runs where nothing has been read yet:
//
//     FreshProcessDeathTests fresh;
//     EXPECT_EXIT(CheckInChild(), ::testing::ExitedWithCode(0), "");
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace scopa::test {

// Switches the death tests of the calling test to starting the binary afresh.
class FreshProcessDeathTests {
public:
    FreshProcessDeathTests() : m_saved(GTEST_FLAG_GET(death_test_style)) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    ~FreshProcessDeathTests() { GTEST_FLAG_SET(death_test_style, m_saved); }
    FreshProcessDeathTests(const FreshProcessDeathTests&) = delete;
    FreshProcessDeathTests& operator=(const FreshProcessDeathTests&) = delete;

private:
    std::string m_saved;
};

// What a child process found wrong. ExitWithReport removes `made_here` (the child ran the
// test's set-up again, and no destructor runs after it), writes the report to standard error,
// which the parent's EXPECT_EXIT shows, and exits with 0 only when nothing was wrong.
class ChildReport {
public:
    template <typename Actual, typename Expected>
    void ExpectEq(const Actual& actual, const Expected& expected, const std::string& what) {
        if (actual == expected) return;
        m_text += what + ": " + ::testing::PrintToString(actual) + ", expected " +
                  ::testing::PrintToString(expected) + "\n";
    }
    [[noreturn]] void ExitWithReport(const std::filesystem::path& made_here) const;

private:
    std::string m_text;
};

}  // namespace scopa::test
