#pragma once
// A point in pixels: column X, row Y.

struct TPoint {
    int X = 0;
    int Y = 0;
};
