#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/open_file.h"

namespace standard_descriptors {

void makeValid() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number is taken, which is `fd` itself since the lower ones are
        // open by now.
        OpenFile opened(::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY));
        if (opened.fd() == fd) {
            opened.release();  // it stays open as `fd`
        } else if (opened.isOpen()) {
            ::dup2(opened.fd(), fd);
        }
    }
}

}  // namespace standard_descriptors
