// Heap blocks for member data, directories and name lists. They come from
// the C heap; a test can make chosen requests fail through the hook, which is
// how the "Can't allocate" messages are proved.
#ifndef VREX_CORE_MEMORY_H
#define VREX_CORE_MEMORY_H

#include <cstddef>

void* Allocate(size_t size);  // null when it fails; a size of 0 gets a block too
void* Reallocate(void* block, size_t size);
void Release(void* block);

// Called for every request with its size; true makes the request fail.
typedef bool (*AllocationFault)(size_t size);
void SetAllocationFault(AllocationFault fault);

#endif
