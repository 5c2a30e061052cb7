// The built viewer under valgrind's memcheck: start-up, a spin about all three axes and a close.
#include "viewer.h"

#include <thread>

#include <sys/wait.h>

using namespace std::chrono_literals;

TEST_F(Viewer, FiveSecondSpinAndCloseHaveNoMemoryErrors)
{
    std::string log = testing::TempDir() + "helixview-memcheck.txt";
    // --keep-debuginfo: the GL driver is unloaded before the leak check at exit, and its blocks
    // must still carry its name for the suppressions to tell them from ours.
    spawn({VALGRIND, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
           "--errors-for-leak-kinds=definite", "--num-callers=30", "--keep-debuginfo=yes",
           "--suppressions=" VALGRIND_SUPPRESSIONS, "--log-file=" + log, HELIXVIEW_EXE});
    // Everything runs many times slower under memcheck.
    waitForWindow(120s);
    settled();
    for (int button : {1, 2, 3})
        click(button);
    std::this_thread::sleep_for(5s);
    EXPECT_TRUE(moving());
    requestClose();
    int status = ended(120s);
    std::string report = "see " + log + "\n" + printed();
    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status << "; " << report;
    EXPECT_EQ(WEXITSTATUS(status), 0) << report;
}
