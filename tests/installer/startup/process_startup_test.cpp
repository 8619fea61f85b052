// The process-wide start-up: once only, and never an end to the program over a locale.
#include "installer/startup/process_startup.hpp"

#include <gtest/gtest.h>

#include <locale>

#include <windows.h>

TEST(process_startup, the_process_is_set_up_once_and_a_locale_always_found) {
    ::SetErrorMode(0);
    EXPECT_TRUE(initialize_process());
    EXPECT_EQ(::GetErrorMode() & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
              static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));

    // A second call changes nothing: the error mode the program set since stays, and so does
    // the global locale.
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    std::locale::global(std::locale::classic());
    EXPECT_TRUE(initialize_process());
    EXPECT_EQ(::GetErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(std::locale().name(), "C");

    // The user's locale may be unknown to this standard library: a locale is found all the same.
    EXPECT_TRUE(set_user_locale());
    EXPECT_FALSE(std::locale().name().empty());
    std::locale::global(std::locale::classic());
}
