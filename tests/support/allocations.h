// Counts the allocations of the test program while counting is on: every
// test program links this replacement of the global operator new.
#pragma once

class AllocationCounter {
public:
    AllocationCounter();  // starts counting from 0
    ~AllocationCounter(); // stops
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    void Pause();
    void Resume();
    int Count() const;
};
