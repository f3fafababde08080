// The read and write helpers go on after short transfers and calls a signal interrupted:
// a pipe of one page, emptied slowly while signals keep arriving, must still carry every
// byte in order.
#include "platform/open_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/test_files.h"

namespace {

void ignoreSignal(int) {}

}  // namespace

TEST(FileIo, ShortAndInterruptedTransfersThroughASmallPipeCarryEveryByte) {
    // A handler without SA_RESTART, so that blocked calls end early with EINTR or a short count.
    struct sigaction action = {}, previous = {};
    action.sa_handler = ignoreSignal;
    ASSERT_EQ(0, ::sigaction(SIGUSR1, &action, &previous));
    int ends[2];
    ASSERT_EQ(0, ::pipe2(ends, O_CLOEXEC));
    OpenFile readEnd(ends[0]);
    OpenFile writeEnd(ends[1]);
    ASSERT_GT(::fcntl(writeEnd.fd(), F_SETPIPE_SZ, 4096), 0);
    const std::vector<uint8_t> bytes = test_support::patternBytes(256 * 1024, 7);

    std::atomic<bool> writing{true};
    file_io::Transfer put;
    std::thread writer([&] {
        put = file_io::writeAll(writeEnd.fd(), bytes.data(), bytes.size());
        writeEnd.close();
        writing = false;
    });
    const pthread_t target = writer.native_handle();
    std::thread signaller([&] {
        while (writing) {
            ::pthread_kill(target, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // Half of it read slowly in pieces, so that the writer waits on a full pipe when
    // signals come; then the rest in one call that meets the end.
    std::vector<uint8_t> got(bytes.size() + 100);
    size_t done = 0;
    for (file_io::Transfer piece; done < bytes.size() / 2 && !piece.failed(); done += piece.done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        piece = file_io::readSome(readEnd.fd(), &got[done], 3000);
        if (piece.done == 0) {
            break;  // the writer gave up early
        }
    }
    const file_io::Transfer rest = file_io::readSome(readEnd.fd(), &got[done], got.size() - done);
    signaller.join();
    writer.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_FALSE(put.failed());
    EXPECT_EQ(bytes.size(), put.done);
    EXPECT_FALSE(rest.failed());
    got.resize(done + rest.done);
    EXPECT_TRUE(got == bytes) << "the bytes differ";
}
