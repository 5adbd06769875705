// The Windows CriticalSection: a CRITICAL_SECTION in the object's own storage.
#include "platform/critical_section.h"

#include <windows.h>

#include <new>

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) <= 40, "CriticalSection storage is too small");
static_assert(alignof(CRITICAL_SECTION) <= alignof(void*), "CriticalSection storage misaligned");

namespace {
CRITICAL_SECTION* Native(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

CriticalSection::CriticalSection() : storage_() {
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
CriticalSection::~CriticalSection() {
  DeleteCriticalSection(Native(storage_));
}
void CriticalSection::Enter() {
  EnterCriticalSection(Native(storage_));
}
void CriticalSection::Leave() {
  LeaveCriticalSection(Native(storage_));
}

}  // namespace platform
