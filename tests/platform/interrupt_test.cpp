#include "platform/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

// Restores the default dispositions after a test that installed the handlers.
struct DefaultHandlers {
    ~DefaultHandlers() {
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            ::signal(signal, SIG_DFL);
        }
        interrupt::reset();
    }
};

}  // namespace

TEST(Interrupt, ASignalIsNotedAndHeldBackWhileDeferred) {
    const DefaultHandlers restore;
    ::signal(SIGHUP, SIG_IGN);
    interrupt::installHandlers();
    interrupt::reset();

    ::raise(SIGHUP);
    EXPECT_FALSE(interrupt::requested()) << "a signal ignored at the start stays ignored";
    {
        const interrupt::Deferral deferral;
        ::raise(SIGTERM);
        EXPECT_FALSE(interrupt::requested());
        EXPECT_NO_THROW(interrupt::throwIfRequested());
    }
    EXPECT_EQ(interrupt::noted(), SIGTERM);
    try {
        interrupt::throwIfRequested();
        ADD_FAILURE() << "no exception";
    } catch (const interrupt::Interrupted& e) {
        EXPECT_EQ(e.signal(), SIGTERM);
        EXPECT_STREQ(e.what(), "interrupted by SIGTERM");
    }

    struct sigaction action;
    ASSERT_EQ(::sigaction(SIGINT, nullptr, &action), 0);
    EXPECT_EQ(action.sa_flags & SA_RESTART, 0) << "a waiting read must return";
}
