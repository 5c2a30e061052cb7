// The frame: rotations accumulate on the right of the projection, and stay a true rotation.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app.h"
#include "gl_test.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/time.h>
#include <time.h>

namespace
{

// The sleeps this test's own thread asked for while `asking` was set, in milliseconds.
bool asking = false;
pthread_t tester = pthread_self();
std::vector<double> asked;

} // namespace

// The frame delay's sleep passes through here on its way to the C library's: what it asks for is
// checked exactly, where how long it took depends on how busy the machine is.
extern "C" int nanosleep(const timespec* request, timespec* left)
{
    static auto real = reinterpret_cast<int (*)(const timespec*, timespec*)>(dlsym(RTLD_NEXT, "nanosleep"));
    if (asking && pthread_equal(pthread_self(), tester))
        asked.push_back(static_cast<double>(request->tv_sec) * 1000.0 +
                        static_cast<double>(request->tv_nsec) / 1e6);
    return real(request, left);
}

namespace
{

void setRates(GLfloat x, GLfloat y, GLfloat z)
{
    theta[0] = x;
    theta[1] = y;
    theta[2] = z;
}

// From the start-up box, the given number of frames' turns at these rates, then still.
void spinFromStartUp(GLfloat x, GLfloat y, GLfloat z, long frames)
{
    init();
    setRates(x, y, z);
    for (long i = 0; i < frames; i++)
        turnScene();
    setRates(0, 0, 0);
}

std::vector<unsigned char> screen()
{
    std::vector<unsigned char> rgb(500 * 500 * 3);
    glReadBuffer(GL_FRONT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 500, 500, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

// Worst departure of the matrix's rotation part (box factored out) from orthonormal.
double skew(const Matrix& m)
{
    double worst = 0;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            double d = 0;
            for (int k = 0; k < 3; k++)
                d += m[k * 4 + i] * m[k * 4 + j] * 1e4;
            worst = std::fmax(worst, std::fabs(d - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

// A vertex on screen through matrix m: pixels from the bottom left of the 500-pixel window, and
// its depth in the viewing box, -1 at the near side.
Vertex onScreen(const Matrix& m, const Vertex& v)
{
    auto row = [&](int r) { return m[r] * v.x + m[4 + r] * v.y + m[8 + r] * v.z + m[12 + r]; };
    return {(row(0) + 1.0) * 250.0, (row(1) + 1.0) * 250.0, row(2)};
}

// Distance on screen from p to the segment a-b.
double apart(const Vertex& p, const Vertex& a, const Vertex& b)
{
    double dx = b.x - a.x, dy = b.y - a.y;
    double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

struct Crossing {
    int x, y; // the pixel
    bool greenNearer;
};

// Where a green and a red segment cross on screen as the current matrix turns the model, and which
// strand is nearer there. Only clear cases count: strands well apart in depth, no third segment
// nearby, and not at a strip's end, which a wide line may leave uncovered.
std::vector<Crossing> crossings()
{
    static const Strands model = helix();
    Matrix m = projection();
    Strands s;
    for (const Vertex& v : model.green)
        s.green.push_back(onScreen(m, v));
    for (const Vertex& v : model.red)
        s.red.push_back(onScreen(m, v));
    std::vector<Crossing> found;
    for (size_t i = 1; i + 2 < s.green.size(); i++)
        for (size_t j = 1; j + 2 < s.red.size(); j++) {
            const Vertex &a = s.green[i], &b = s.green[i + 1], &c = s.red[j], &d = s.red[j + 1];
            double across = (b.x - a.x) * (d.y - c.y) - (b.y - a.y) * (d.x - c.x);
            if (across == 0)
                continue;
            double t = ((c.x - a.x) * (d.y - c.y) - (c.y - a.y) * (d.x - c.x)) / across;
            double u = ((c.x - a.x) * (b.y - a.y) - (c.y - a.y) * (b.x - a.x)) / across;
            if (t < 0 || t >= 1 || u < 0 || u >= 1)
                continue;
            Vertex at{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), 0};
            double green = a.z + t * (b.z - a.z), red = c.z + u * (d.z - c.z);
            bool alone = std::fabs(green - red) > 0.04;
            for (const std::vector<Vertex>* strand : {&s.green, &s.red}) {
                size_t own = strand == &s.green ? i : j;
                for (size_t k = 0; k + 1 < strand->size(); k++)
                    if ((k + 1 < own || k > own + 1) && apart(at, (*strand)[k], (*strand)[k + 1]) < 8)
                        alone = false;
            }
            if (alone)
                found.push_back({static_cast<int>(at.x), static_cast<int>(at.y), green < red});
        }
    return found;
}

// Where the strands cross, the nearer one shows if the window has a depth buffer; without one the
// depth test passes everything, and the red strand, drawn last, covers the green. Returns how many
// crossings it looked at.
size_t expectNearerStrandWhereTheyCross()
{
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    auto rgb = [](std::array<unsigned char, 3> p) {
        return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
    };
    std::vector<Crossing> found = crossings();
    for (const Crossing& c : found)
        EXPECT_EQ(rgb(pixel(c.x, c.y)), depthBits > 0 && c.greenNearer ? "0,255,0" : "255,0,0")
            << "at " << c.x << "," << c.y << " where " << (c.greenNearer ? "green" : "red") << " is nearer, "
            << depthBits << " depth bits";
    return found.size();
}

void ignore(int) {}

// A signal 10 ms from now, handled and without SA_RESTART, so it cuts short whatever blocks then.
void interruptIn10ms()
{
    struct sigaction action {
    };
    action.sa_handler = ignore;
    sigaction(SIGALRM, &action, nullptr);
    itimerval in10ms{};
    in10ms.it_value.tv_usec = 10000;
    setitimer(ITIMER_REAL, &in10ms, nullptr);
}

// Disarm the timer before the default handler is back: a frame that ends early must fail an
// assertion, not let a late signal kill the test binary.
void stopInterrupting()
{
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    signal(SIGALRM, SIG_DFL);
}

} // namespace

TEST(Frame, TurnsXThenYThenZOnTheRightAndWaitsOutTheDelay)
{
    init();
    setRates(1, 1, 1);
    const int frames = 10;
    Matrix step = multiply(multiply(rotation(1, 1, 0, 0), rotation(1, 0, 1, 0)), rotation(1, 0, 0, 1));
    Matrix wrongStep = multiply(multiply(rotation(1, 0, 0, 1), rotation(1, 0, 1, 0)), rotation(1, 1, 0, 0));
    Matrix expected = startUpBox(), wrong = startUpBox();
    for (int i = 0; i < frames; i++) {
        // The signal comes during the delay: drawing takes a millisecond or two.
        interruptIn10ms();
        asked.clear();
        asking = true;
        auto before = std::chrono::steady_clock::now();
        display();
        double took =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
        asking = false;
        // A busy machine makes a frame longer, never shorter.
        EXPECT_GE(took, 70.0) << "frame " << i << ", cut short by a signal?";
        ASSERT_FALSE(asked.empty()) << "frame " << i << " did not sleep";
        EXPECT_EQ(asked.front(), 70.0) << "frame " << i << "'s delay";
        expected = multiply(expected, step);
        wrong = multiply(wrong, wrongStep);
    }
    stopInterrupting();
    setRates(0, 0, 0);
    EXPECT_LT(distance(projection(), expected), 1e-7);
    // The check can tell the orders apart.
    EXPECT_GT(distance(wrong, expected), 1e-6);
}

TEST(Frame, StillRatesRedrawTheSamePicture)
{
    init();
    // Still after each of 30 frames about all three axes. A turn about one axis alone, or some of
    // the orientations reached, are states that correcting the matrix again would leave as they are.
    for (int i = 1; i <= 30; i++) {
        setRates(1, 1, 1);
        turnScene();
        setRates(0, 0, 0);
        Matrix reached = projection();
        turnScene();
        ASSERT_EQ(distance(projection(), reached), 0.0) << "still after " << i << " frames";
    }
    Matrix reached = projection();
    display();
    std::vector<unsigned char> first = screen();
    display();
    display();
    EXPECT_EQ(distance(projection(), reached), 0.0);
    EXPECT_TRUE(first == screen());
}

TEST(Frame, FullTurnAboutOneAxisComesBackToTheStartUpBox)
{
    for (int axis = 0; axis < 3; axis++) {
        spinFromStartUp(axis == 0, axis == 1, axis == 2, 360);
        EXPECT_LT(distance(projection(), startUpBox()) * 100.0, 1e-4) << "axis " << axis;
    }
}

TEST(Frame, DaysOfSpinningKeepTheModelsScaleAndShape)
{
    // Ten million frames about all axes is about eight days at 14 frames a second; a slow build may
    // ask for fewer. Fewer axes drift differently, so each single axis and each pair spins too.
    const char* asked = std::getenv("HELIXVIEW_LONG_SPIN_FRAMES");
    const long allAxesFrames = asked ? std::atol(asked) : 10000000L;
    const struct {
        GLfloat x, y, z;
        long frames;
    } spins[] = {
        {1, 1, 1, allAxesFrames}, {1, 0, 0, 100000}, {0, 1, 0, 100000}, {0, 0, 1, 100000},
        {1, 1, 0, 100000},        {1, 0, 1, 100000}, {0, 1, 1, 100000},
    };
    for (const auto& spin : spins) {
        spinFromStartUp(spin.x, spin.y, spin.z, spin.frames);
        Matrix m = projection();
        SCOPED_TRACE(testing::Message() << "rates " << spin.x << " " << spin.y << " " << spin.z << ", "
                                        << spin.frames << " frames");
        EXPECT_LT(skew(m), 1e-5);
        EXPECT_EQ(m[3], 0.0);
        EXPECT_EQ(m[12], 0.0);
        EXPECT_EQ(m[15], 1.0);
    }
}

TEST(Frame, CrossingStrandsShowTheNearerWithADepthBufferAndTheRedWithout)
{
    // The start-up picture has five crossings in the middle column, near and far in turn; half a
    // turn about Y swaps near and far, and the others bring new crossings.
    const struct {
        GLfloat x, y, z;
        int frames;
    } turns[] = {{0, 0, 0, 0}, {0, 1, 0, 180}, {1, 0, 0, 40}, {0, 0, 1, 90}, {1, 1, 1, 50}};
    for (const auto& turn : turns) {
        spinFromStartUp(turn.x, turn.y, turn.z, turn.frames);
        display();
        SCOPED_TRACE(testing::Message()
                     << turn.frames << " frames at rates " << turn.x << " " << turn.y << " " << turn.z);
        size_t looked = expectNearerStrandWhereTheyCross();
        if (turn.frames == 0)
            EXPECT_EQ(looked, 5u);
        else
            EXPECT_GT(looked, 0u);
    }

    // Spinning, every frame draws both strands whole: just what a picture of its own would show.
    init();
    setRates(1, 1, 1);
    for (int frame = 1; frame <= 40; frame++) {
        display();
        std::vector<unsigned char> drawn = screen();
        SCOPED_TRACE("spinning, frame " + std::to_string(frame));
        expectNearerStrandWhereTheyCross();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        RenderScene();
        glFlush();
        ASSERT_TRUE(drawn == screen()) << "the frame lost pixels that a fresh picture has";
    }
    setRates(0, 0, 0);
}
