// CriticalSection everywhere but Windows (platform/win32/critical_section.cpp): a recursive mutex.
#include "platform/critical_section.h"

namespace platform {

CriticalSection::CriticalSection() = default;
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() {
  mutex_.lock();
}
void CriticalSection::Leave() {
  mutex_.unlock();
}

}  // namespace platform
