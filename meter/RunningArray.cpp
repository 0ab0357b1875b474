#include "meter/RunningArray.h"

#include <algorithm>

void TRunningArray::SetSize(int n) {
    FSize = std::max(n, 1);
    DropOldestBeyondSize();
}

void TRunningArray::Push(int v) {
    FValues.push_back(v);
    DropOldestBeyondSize();
}

int TRunningArray::Peak() const {
    if (FValues.empty()) {
        return 0;
    }
    return *std::max_element(FValues.begin(), FValues.end());
}

void TRunningArray::DropOldestBeyondSize() {
    while (Count() > FSize) {
        FValues.pop_front();
    }
}
