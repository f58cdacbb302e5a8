#pragma once
// Gives memory that has been freed back to the operating system.
//
// A conversion frees large layouts (the component library's copies, the layout read from the
// temporary file) before it builds its own scene and message. The C library keeps freed memory
// for later allocations, but the message, one large block, comes from fresh pages: without handing
// the freed pages back, the process would hold both at once.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarnwick::depthview {

inline void release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace tarnwick::depthview
