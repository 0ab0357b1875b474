#pragma once
// The running window of the movement meter: the most recent values, oldest
// first, and the largest of them. Counts values, not time. Free of Qt so that
// it can be tested on its own.

#include <deque>

class TRunningArray {
public:
    // Size becomes n, at least 1; the oldest values go until at most Size remain.
    void SetSize(int n);
    // The size last set, not the number of values held.
    int Size() const { return FSize; }
    // Appends v; drops the single oldest value when the count exceeds Size.
    void Push(int v);
    // The largest value held (signed comparison); 0 while the window is empty.
    int Peak() const;
    int Count() const { return static_cast<int>(FValues.size()); }

private:
    void DropOldestBeyondSize();

    int FSize = 1;
    std::deque<int> FValues;
};
