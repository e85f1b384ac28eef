// Counts heap allocations made through operator new between start and stop.
#pragma once

void startCountingAllocations();
int stopCountingAllocations();  // the number counted since start
