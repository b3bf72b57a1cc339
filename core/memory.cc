#include "core/memory.h"

#include <cstdlib>

namespace {
AllocationFault allocationFault = nullptr;

bool Fails(size_t size) { return allocationFault && allocationFault(size); }
}  // namespace

void* Allocate(size_t size) { return Fails(size) ? nullptr : malloc(size ? size : 1); }

void* Reallocate(void* block, size_t size) { return Fails(size) ? nullptr : realloc(block, size ? size : 1); }

void Release(void* block) { free(block); }

void SetAllocationFault(AllocationFault fault) { allocationFault = fault; }
