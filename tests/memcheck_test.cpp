// The built viewer under valgrind's memcheck: start-up, a spin about all three axes and a close.
#include "viewer.h"

#include <fstream>

#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{

// What valgrind found, from its log: the first error with its stack, and the error summary.
std::string findings(const std::string& log)
{
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    // Each line starts with "==pid==".
    auto body = [](const std::string& line) {
        size_t end = line.find("==", 2);
        return end == std::string::npos ? line : line.substr(end + 2);
    };
    auto isFrame = [&](const std::string& line) {
        return body(line).rfind("    at ", 0) == 0 || body(line).rfind("    by ", 0) == 0;
    };
    auto isBlank = [&](const std::string& line) {
        return body(line).find_first_not_of(' ') == std::string::npos;
    };
    std::string first, summary;
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].find("ERROR SUMMARY") != std::string::npos)
            summary = lines[i];
        // An error is a line of its own followed by its stack, up to the next blank line. Of the
        // leaks, only the definite ones count as errors here.
        bool notAnError = lines[i].find("possibly lost") != std::string::npos ||
                          lines[i].find("indirectly lost") != std::string::npos ||
                          lines[i].find("still reachable") != std::string::npos;
        if (first.empty() && !notAnError && !isFrame(lines[i]) && i + 1 < lines.size() &&
            isFrame(lines[i + 1]))
            for (size_t j = i; j < lines.size() && !isBlank(lines[j]); j++)
                first += lines[j] + "\n";
    }
    return "first error:\n" + first + summary + "\n(whole log: " + log + ")";
}

} // namespace

TEST_F(Viewer, FiveSecondSpinAndCloseHaveNoMemoryErrors)
{
    std::string log = tempFile("memcheck.txt");
    // --keep-debuginfo: the GL driver is unloaded before the leak check at exit, and its blocks
    // must still carry its name for the suppressions to tell them from ours.
    spawn({VALGRIND, "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
           "--errors-for-leak-kinds=definite", "--num-callers=30", "--keep-debuginfo=yes",
           "--suppressions=" VALGRIND_SUPPRESSIONS, "--log-file=" + log, HELIXVIEW_EXE});
    // Everything runs many times slower under memcheck: its run sets HELIXVIEW_SLOWNESS.
    waitForWindow();
    settled();
    for (int button : {1, 2, 3})
        click(button);
    // Five seconds of frames, each one answered, however long they take.
    until([] { return false; }, Clock::now() + 5s);
    EXPECT_TRUE(spinning());
    requestClose();
    int status = ended(limit(30s));
    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status << "\n" << findings(log) << "\n" << printed();
    EXPECT_EQ(WEXITSTATUS(status), 0) << findings(log) << "\n" << printed();
    EXPECT_EQ(printed(), "");
}
