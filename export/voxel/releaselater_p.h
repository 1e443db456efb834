#ifndef GEOM_RELEASELATER_P_H
#define GEOM_RELEASELATER_P_H

#include <QtConcurrent>

#include <type_traits>
#include <utility>

namespace geom {

// Frees the value on a thread of the global pool instead of here: the grid
// surfaces of a large model take hundreds of megabytes, which the allocator
// gives back to the kernel page by page, a good part of a second that a
// cancelled run (or one on its way to write the file) need not wait for. The
// value is moved out of the argument, which is left empty; it must belong to
// the caller alone (nothing still points into it, and it is no part of an
// object that another thread may delete). The pool waits for the job before
// the program ends. While the pool's threads are all busy, the job waits for
// one of them.
template<typename T>
void releaseLater(T &&value)
{
    using Value = std::decay_t<T>;
    // Held through a pointer: the job's functor is copied, and a copy of a
    // std::vector is a deep one.
    auto *held = new Value(std::move(value));
    value = Value();
    QtConcurrent::run([held] { delete held; });
}

} // namespace geom

#endif // GEOM_RELEASELATER_P_H
