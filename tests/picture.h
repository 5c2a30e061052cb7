// The viewer's picture as the end-to-end tests read it back. Its thresholds live here and nowhere
// else.
#ifndef HELIXVIEW_PICTURE_H
#define HELIXVIEW_PICTURE_H

#include <algorithm>
#include <vector>

// Kinds of pixel.
enum { blackPixel, greenPixel, redPixel, otherPixel };

// The kind of a pixel from its red, green and blue, each 0 to 255.
inline int kindOf(int r, int g, int b)
{
    if (r < 16 && g < 16 && b < 16)
        return blackPixel;
    if (g > 128 && r < 64 && b < 64)
        return greenPixel;
    if (r > 128 && g < 64 && b < 64)
        return redPixel;
    return otherPixel;
}

// Each strand covers more pixels than this in a complete picture of 500 × 500 or more.
constexpr long strandPixels = 1000;
// The black background covers more than this in the 500 × 500 start-up picture.
constexpr long backgroundPixels = 200000;

// Where the edges of everything not black lie, as shares of the picture's width and height from
// its left and bottom: the strands' radius and height in the -100..100 box, which fills the
// picture.
constexpr double helixLeft = 0.325, helixRight = 0.675, helixBottom = 0.10, helixTop = 0.758;
// Lines are 5 pixels wide, so the edges lie up to 3 pixels beyond the vertices.
constexpr int helixTolerance = 4;

struct Picture {
    int width = 0, height = 0;
    std::vector<int> kind; // one per pixel, row 0 at the top
    bool operator==(const Picture& o) const
    {
        return kind == o.kind;
    }
};

inline long count(const Picture& p, int kind)
{
    return std::count(p.kind.begin(), p.kind.end(), kind);
}

// The bounds of everything not black, in pixels from the bottom left.
struct Extent {
    int left, right, bottom, top;
};

inline Extent extent(const Picture& p)
{
    Extent e{p.width, -1, p.height, -1};
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            if (p.kind[y * p.width + x] != blackPixel) {
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
                e.bottom = std::min(e.bottom, p.height - 1 - y);
                e.top = std::max(e.top, p.height - 1 - y);
            }
    return e;
}

#endif
