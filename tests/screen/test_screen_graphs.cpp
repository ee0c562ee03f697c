// Graphs a program makes, draws into and draws onto another target, with and
// without their transparent colour; boxes, filled and outlined. The fake device
// clips nothing, so anything drawn outside a surface shows in TearDown.
#include <climits>

#include "screen_test_support.h"

TEST_F(ScreenTest, GraphsAreMadeDrawnIntoAndDrawnWithTheirTransparentColour) {
    EXPECT_EQ(MakeGraph(8, 8), -1);  // before start-up
    ASSERT_EQ(InitLibrary(), 0);
    for (auto size : {std::pair{0, 8}, {8, 0}, {-1, 8}, {65536, 1}}) {
        EXPECT_EQ(MakeGraph(size.first, size.second), -1) << size.first << "x" << size.second;
    }
    SetTransColor(255, 0, 255);
    int g = MakeGraph(20, 10);
    ASSERT_EQ(g, 0x10000);
    int w = 0, h = 0;
    ASSERT_EQ(GetGraphSize(g, &w, &h), 0);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 10);

    // Drawn into: magenta, the transparent colour, around a white box.
    const uint32_t magenta = MakeColor(255, 0, 255), white = MakeColor(255, 255, 255);
    ASSERT_EQ(SetDrawTarget(g), 0);
    EXPECT_EQ(GetDrawTarget(), g);
    ClearDrawTarget();
    EXPECT_EQ(DrawBox(0, 0, 20, 10, magenta, 1), 0);
    EXPECT_EQ(DrawBox(5, 2, 15, 8, white, 1), 0);
    ASSERT_EQ(SetDrawTarget(SCREEN_BACK), 0);
    ScreenSurface* back = GetDrawSurface();
    FillPattern(back);
    // With transparency only the box lands; without, the magenta too.
    EXPECT_EQ(DrawGraph(100, 50, g, 1), 0);
    EXPECT_EQ(ReadFakePixel(back, 105, 52), white);
    EXPECT_EQ(ReadFakePixel(back, 114, 57), white);
    EXPECT_EQ(ReadFakePixel(back, 100, 50), Pattern(100, 50));
    EXPECT_EQ(ReadFakePixel(back, 115, 58), Pattern(115, 58));
    EXPECT_EQ(DrawGraph(200, 50, g, 0), 0);
    EXPECT_EQ(ReadFakePixel(back, 200, 50), magenta);
    EXPECT_EQ(ReadFakePixel(back, 219, 59), magenta);
    EXPECT_EQ(ReadFakePixel(back, 220, 60), Pattern(220, 60));

    // Cut by the draw area and the target's edges, wherever it is put.
    FillPattern(back);
    SetDrawArea(0, 0, 205, 120);
    EXPECT_EQ(DrawGraph(200, 50, g, 0), 0);
    EXPECT_EQ(ReadFakePixel(back, 204, 50), magenta);
    EXPECT_EQ(ReadFakePixel(back, 205, 50), Pattern(205, 50));
    SetDrawArea(0, 0, 350, 120);
    EXPECT_EQ(DrawGraph(340, 115, g, 0), 0);
    EXPECT_EQ(ReadFakePixel(back, 340, 115), magenta);
    EXPECT_EQ(ReadFakePixel(back, 349, 119), white);  // the graph's (9, 4), in its box
    for (auto at : {std::pair{INT_MAX, INT_MIN}, {INT_MIN, INT_MAX}, {-19, -9}}) {
        EXPECT_EQ(DrawGraph(at.first, at.second, g, 0), 0);
    }
    EXPECT_EQ(ReadFakePixel(back, 0, 0), magenta);  // the one pixel of (-19, -9) on the target
    EXPECT_EQ(ReadFakePixel(back, 1, 0), Pattern(1, 0));

    // Not onto itself, and no handle that names no graph.
    ASSERT_EQ(SetDrawTarget(g), 0);
    EXPECT_EQ(DrawGraph(0, 0, g, 0), -1);
    SetDrawTarget(SCREEN_BACK);
    for (int bad : {-1, 0, (int)SCREEN_BACK, 0x10001, 0x10000 + 3000, 0x20000}) EXPECT_EQ(DrawGraph(0, 0, bad, 0), -1) << bad;

    // Deleting the graph drawing goes to returns drawing to the back surface;
    // the handle names nothing then, and comes back for the next graph.
    SetDrawTarget(g);
    EXPECT_EQ(DeleteGraph(g), 0);
    EXPECT_EQ(GetDrawTarget(), SCREEN_BACK);
    EXPECT_EQ(ClearDrawTarget(), 0);
    EXPECT_EQ(DeleteGraph(g), -1);
    EXPECT_EQ(GetGraphSize(g, &w, &h), -1);
    EXPECT_EQ(SetDrawTarget(g), -1);
    int again = MakeGraph(4, 4);
    EXPECT_EQ(again, g);
    // A change of screen mode deletes every graph.
    EXPECT_EQ(SetScreenMode(320, 100, -1, -1), 0);
    EXPECT_EQ(GetGraphSize(again, &w, &h), -1);
}

TEST_F(ScreenTest, BoxesFillOrOutlineInsideTheDrawArea) {
    ASSERT_EQ(InitLibrary(), 0);
    SetDrawTarget(SCREEN_BACK);
    ScreenSurface* back = GetDrawSurface();
    FillPattern(back);
    const uint32_t c = MakeColor(10, 20, 30);
    EXPECT_EQ(DrawBox(10, 10, 20, 15, c, 1), 0);
    for (int y = 9; y <= 15; y++) {
        for (int x = 9; x <= 20; x++) {
            bool inside = x >= 10 && x < 20 && y >= 10 && y < 15;
            ASSERT_EQ(ReadFakePixel(back, x, y), inside ? c : Pattern(x, y)) << x << "," << y;
        }
    }
    // An outline, corners given the wrong way round: the edge pixels only.
    EXPECT_EQ(DrawBox(40, 15, 30, 10, c, 0), 0);
    for (int y = 9; y <= 15; y++) {
        for (int x = 29; x <= 40; x++) {
            bool inside = x >= 30 && x < 40 && y >= 10 && y < 15;
            bool edge = inside && (x == 30 || x == 39 || y == 10 || y == 14);
            ASSERT_EQ(ReadFakePixel(back, x, y), edge ? c : Pattern(x, y)) << x << "," << y;
        }
    }
    // One pixel high, an outline is a line; no width, nothing.
    FillPattern(back);
    DrawBox(50, 5, 54, 6, c, 0);
    DrawBox(60, 5, 60, 9, c, 1);
    EXPECT_EQ(ReadFakePixel(back, 50, 5), c);
    EXPECT_EQ(ReadFakePixel(back, 53, 5), c);
    EXPECT_EQ(ReadFakePixel(back, 54, 5), Pattern(54, 5));
    EXPECT_EQ(ReadFakePixel(back, 60, 5), Pattern(60, 5));

    // The draw area cuts the widest box there is; far edges draw nothing.
    FillPattern(back);
    SetDrawArea(0, 0, 100, 50);
    EXPECT_EQ(DrawBox(INT_MIN, INT_MIN, INT_MAX, INT_MAX, c, 0), 0);
    EXPECT_EQ(ReadFakePixel(back, 50, 25), Pattern(50, 25));
    EXPECT_EQ(DrawBox(INT_MIN, INT_MIN, INT_MAX, INT_MAX, c, 1), 0);
    EXPECT_EQ(ReadFakePixel(back, 99, 49), c);
    EXPECT_EQ(ReadFakePixel(back, 100, 49), Pattern(100, 49));
    EXPECT_EQ(ReadFakePixel(back, 99, 50), Pattern(99, 50));
    SetDrawArea(10, 10, 10, 10);
    EXPECT_EQ(DrawBox(0, 0, 350, 120, MakeColor(255, 255, 255), 1), 0);
    EXPECT_EQ(ReadFakePixel(back, 200, 100), Pattern(200, 100));

    // On the window's own screen a box lies at the client area's place.
    SetDrawTarget(SCREEN_FRONT);
    EXPECT_EQ(DrawBox(0, 0, 2, 2, c, 1), 0);
    EXPECT_EQ(ReadFakePixel(Primary(), 1, 1), c);
}
