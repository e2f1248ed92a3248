#pragma once

// How many forks lie between the process that first asked and this one. A
// value written to memory together with the generation it was written in
// tells, in a child, whether it was inherited: a thread of the parent that
// was using it does not exist in the child.

#include <cstdint>

namespace morvik::python {

// This process's generation. The first call starts counting, so call it
// before anything that must tell inherited state apart exists; std::bad_alloc
// when the system refuses to run the counter at fork.
std::uint64_t fork_generation();

}  // namespace morvik::python
