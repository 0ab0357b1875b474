#pragma once
// Result codes of the image operations ConvertToGray and CompareFrames.

constexpr int ResultDone = 0;
constexpr int ResultSourceEmpty = 1;
constexpr int ResultWrongFormat = 2;
