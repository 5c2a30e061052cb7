// The built viewer on a real X server: its window, its picture, and mouse clicks through xdotool.
#include "viewer.h"

#include <thread>

using namespace std::chrono_literals;

TEST_F(Viewer, OpensTheHelixUprightInA500SquareAtTheTopLeft)
{
    start();
    expectPlacedAtTopLeft();
    Picture p = settled();
    ASSERT_EQ(p.width, 500);
    EXPECT_GT(count(p, 1), 1000);
    EXPECT_GT(count(p, 2), 1000);
    EXPECT_EQ(count(p, 0) + count(p, 1) + count(p, 2) + count(p, 3), 500L * 500L);
    expectHelixFills(p);
    EXPECT_EQ(printed(), "");
}

TEST_F(Viewer, GeometryOptionDoesNotMoveOrResizeTheWindow)
{
    start({"-geometry", "300x200+40+60"});
    expectPlacedAtTopLeft();
}

TEST_F(Viewer, MiddleClickStartsAndStopsTheSpin)
{
    start();
    Picture still = settled();
    click(2);
    std::this_thread::sleep_for(300ms);
    Picture a = grab();
    std::this_thread::sleep_for(300ms);
    Picture b = grab();
    EXPECT_FALSE(a == b) << "the picture did not move after the first click";
    EXPECT_FALSE(a == still);

    click(2);
    Picture stopped = settled();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(stopped == grab()) << "the picture still moves after the second click";
    EXPECT_FALSE(stopped == still);
    EXPECT_EQ(printed(), "");
}
