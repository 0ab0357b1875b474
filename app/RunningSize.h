#pragma once
// The meter's running window as a number of frames, for automatic mode.

// Frames per running window: the window in milliseconds over the capture
// period, rounded to nearest with ties to even. A period of 0 fails with
// EZeroDivide, or with EInvalidOp when the window is 0 too.
int RunningSizeFor(int runningWindowMs, int capturePeriodMs);
