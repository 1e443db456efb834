#include "memoryrelease.h"

#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

#ifdef __GLIBC__
// A release walks the free chunks of every arena, but the free space at the end of an arena
// other than the main one goes back only when a free finds it above the trim threshold, which
// glibc raises to as much as 64 MB as large blocks come and go; and it makes up to eight arenas
// per processor, one for each new thread while there are fewer. After an export, tens of arenas
// each kept megabytes at their end. With one arena beside the main one, the threads of the
// reader and of the engines share the two, and what a release cannot reach is the end of that
// one arena at most. (Fixed thresholds would bound every arena instead, but cost a fifth of an
// export's time in heaps shrunk and grown again; the main arena alone, about as much in waiting
// for its lock.)
constexpr int arenaCount = 2;
#endif

std::function<void()> &observer()
{
    static std::function<void()> o;
    return o;
}

} // namespace

void MemoryRelease::limitRetainedMemory()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, arenaCount);
#endif
}

void MemoryRelease::releaseFreedMemory()
{
#ifdef __GLIBC__
    // Walks every arena, and also hands back free pages in the middle of an arena.
    malloc_trim(0);
#endif
    if (observer())
        observer()();
}

void MemoryRelease::setObserver(std::function<void()> o)
{
    observer() = std::move(o);
}
