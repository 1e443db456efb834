#ifndef MEMORYRELEASE_H
#define MEMORYRELEASE_H

#include <functional>

// Gives the memory that large work has freed back to the system.
//
// The reader and the export engines allocate on worker threads, and glibc's allocator serves
// them from arenas of their own. What they free stays in those arenas, still resident: after a
// large file and an STL export the process kept hundreds of megabytes it no longer used, more
// with every export. Two things keep that small: the arenas are bounded before any thread
// starts, and the window releases what is free once large work is over (after an export has
// ended and its engine is gone, after a file was closed or replaced).
class MemoryRelease
{
public:
    // Bounds the number of arenas; to be called first thing in main(), before any thread
    // allocates.
    static void limitRetainedMemory();

    // Returns the free pages of every arena to the system; does nothing where the allocator
    // offers no way to. Takes a few milliseconds after large work, so only at such moments.
    static void releaseFreedMemory();

    // Tests: called after each release.
    static void setObserver(std::function<void()> observer);
};

#endif // MEMORYRELEASE_H
