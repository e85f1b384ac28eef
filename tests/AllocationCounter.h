// Counts heap allocations made through operator new between start and stop.
#pragma once

void startCountingAllocations();
int stopCountingAllocations();  // the number counted since start
// While counting, the n-th allocation since start (1 for the first) and every
// later one fail: nothrow new answers null, new throws. 0 fails none.
void failAllocationsFrom(int n);
