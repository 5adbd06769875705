// The emulated build's allocation hook: this library's own operator new (the standard library
// is linked into it statically, so a test program's replacement never reaches it), counting
// allocations and failing the one a test names. Tests walk a scenario over every allocation it
// makes and check that each failure ends as an error code, never as an escaped exception, and
// that nothing stays allocated afterwards. The product library carries none of this.
#include <malloc.h>

#include <cstdlib>
#include <new>

#include "module/emulated_exports.h"

namespace {

// Constant-initialised: allocations made before any constructor runs are counted too.
volatile LONG g_allocations = 0;
volatile LONG g_live = 0;
volatile LONG g_live_bytes = 0;  // what the C runtime's heap gives for the live ones
volatile LONG g_fail_at = 0;     // the allocation number that fails; 0: none

void* Allocate(std::size_t size) {
  const LONG number = InterlockedIncrement(&g_allocations);
  if (number == g_fail_at) throw std::bad_alloc();
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  InterlockedIncrement(&g_live);
  InterlockedExchangeAdd(&g_live_bytes, static_cast<LONG>(_msize(p)));
  return p;
}

void Free(void* p) noexcept {
  if (!p) return;
  InterlockedDecrement(&g_live);
  InterlockedExchangeAdd(&g_live_bytes, -static_cast<LONG>(_msize(p)));
  std::free(p);
}

}  // namespace

// The standard library's array and nothrow forms, and the sized deletes, call these two.
void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  Free(p);
}
void operator delete[](void* p) noexcept {
  Free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Free(p);
}

extern "C" {

void WINAPI QvxEmuFailAllocation(UINT nth) {
  InterlockedExchange(&g_fail_at, nth ? static_cast<LONG>(g_allocations + nth) : 0);
}

UINT WINAPI QvxEmuAllocationCount() {
  return static_cast<UINT>(g_allocations);
}

UINT WINAPI QvxEmuLiveAllocations() {
  return static_cast<UINT>(g_live);
}

UINT WINAPI QvxEmuLiveBytes() {
  return static_cast<UINT>(g_live_bytes);
}
}
