#include "platform/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>

TEST(Interrupt, ASignalIsNotedOnlyOnceTheDeferralEndsAndIgnoredOnesStayIgnored) {
    ::signal(SIGHUP, SIG_IGN);
    interrupt::installHandlers();
    ::raise(SIGHUP);
    EXPECT_FALSE(interrupt::requested());
    {
        const interrupt::Deferral deferral;
        ::raise(SIGTERM);
        EXPECT_NO_THROW(interrupt::throwIfRequested());
    }
    EXPECT_EQ(interrupt::noted(), SIGTERM);
    EXPECT_THROW(interrupt::throwIfRequested(), interrupt::Interrupted);
    struct sigaction action;
    ASSERT_EQ(::sigaction(SIGINT, nullptr, &action), 0);
    EXPECT_EQ(action.sa_flags & SA_RESTART, 0) << "a waiting read must return";

    // A reader of standard output that went away ends the run like SIGTERM.
    interrupt::reset();
    ::raise(SIGPIPE);
    EXPECT_EQ(interrupt::noted(), SIGPIPE);
    EXPECT_EQ(interrupt::signalName(SIGPIPE), "SIGPIPE");

    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::signal(signal, SIG_DFL);
    }
    interrupt::reset();
}
