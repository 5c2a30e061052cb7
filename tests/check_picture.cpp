// Checks a screenshot of the viewer's window, a binary PPM on standard input, against the start-up
// picture that the end-to-end tests expect: 500 × 500, a green and a red strand on black, upright
// in the middle. Usage: check_picture NAME < SHOT.ppm (scripts/check-picture.sh builds and runs it).
#include <cstdio>
#include <iostream>
#include <string>

#include "picture.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: check_picture NAME < SHOT.ppm\n");
        return 2;
    }
    std::istream& in = std::cin;
    std::string magic;
    int maxValue = 0;
    Picture p;
    in >> magic >> p.width >> p.height >> maxValue;
    in.get(); // the one white space before the pixels
    if (magic != "P6" || maxValue != 255) {
        std::fprintf(stderr, "check_picture: %s is not given as a binary PPM of 8-bit channels\n", argv[1]);
        return 1;
    }
    for (long i = 0; i < long(p.width) * p.height; i++) {
        unsigned char rgb[3];
        if (!in.read(reinterpret_cast<char*>(rgb), 3)) {
            std::fprintf(stderr, "check_picture: %s ends before its last pixel\n", argv[1]);
            return 1;
        }
        p.kind.push_back(kindOf(rgb[0], rgb[1], rgb[2]));
    }

    long green = count(p, greenPixel), red = count(p, redPixel), black = count(p, blackPixel);
    Extent e = extent(p);
    auto near = [](int edge, double share, int size) {
        return edge >= share * size - helixTolerance && edge <= share * size + helixTolerance;
    };
    std::string fault;
    if (p.width != 500 || p.height != 500)
        fault = "the window is " + std::to_string(p.width) + "x" + std::to_string(p.height) + ", not 500x500";
    else if (green <= strandPixels)
        fault = "no green strand";
    else if (red <= strandPixels)
        fault = "no red strand";
    else if (black <= backgroundPixels)
        fault = "not on black";
    else if (!near(e.left, helixLeft, p.width) || !near(e.right, helixRight, p.width) ||
             !near(e.bottom, helixBottom, p.height) || !near(e.top, helixTop, p.height))
        fault = "the helix is not where it belongs, columns " + std::to_string(int(helixLeft * p.width)) +
                "-" + std::to_string(int(helixRight * p.width)) + " and rows " +
                std::to_string(int(helixBottom * p.height)) + "-" + std::to_string(int(helixTop * p.height));
    std::fprintf(fault.empty() ? stdout : stderr,
                 "%s: %s (%ld green, %ld red, %ld black pixels; columns %d-%d, rows %d-%d from the bottom)\n",
                 argv[1], fault.empty() ? "the helix on black" : fault.c_str(), green, red, black, e.left,
                 e.right, e.bottom, e.top);
    return fault.empty() ? 0 : 1;
}
