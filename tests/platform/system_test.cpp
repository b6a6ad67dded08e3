// The standard streams: none of them, closed, full or cut off, can stop the run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.hpp"

namespace {

// Regression: with descriptors 0 to 2 closed, the display's connection took
// descriptor 1 and the console lines went into it; a pipe closed early or the
// file-size limit ended the run by a signal, without a word. In a child, as
// the signals' dispositions are the whole process's.
TEST(StandardStreams, ClosedOnesAreOpenedAgainAndNoWriteEndsTheProcess) {
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("tintsmith_streams_" + std::to_string(platform::processId())))
                                 .string();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(0);
        close(1);
        close(2);
        platform::secureStandardStreams();
        int failures = 0;
        // each descriptor open again, and the next file opened above them
        for (int fd = 0; fd <= 2; ++fd)
            if (fcntl(fd, F_GETFD) == -1) failures |= 1;
        if (open("/dev/null", O_RDONLY) <= 2) failures |= 2;
        // a pipe no one reads any more: an error, not SIGPIPE
        int ends[2];
        if (pipe(ends) != 0) _exit(64);
        close(ends[0]);
        if (write(ends[1], "x", 1) != -1 || errno != EPIPE) failures |= 4;
        // past the file-size limit: an error, not SIGXFSZ
        const rlimit limit{1024, 1024};
        const int out = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(64);
        const std::string bytes(2048, 'x');
        if (write(out, bytes.data(), bytes.size()) != 1024) failures |= 8;  // up to the limit
        if (write(out, bytes.data(), bytes.size()) != -1 || errno != EFBIG) failures |= 16;
        _exit(failures);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::filesystem::remove(file);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);  // bits: 1 closed, 2 taken, 4 pipe, 8 and 16 the limit
}

}  // namespace
