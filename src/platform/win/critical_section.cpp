#include <windows.h>

#include "platform/critical_section.h"

namespace orvex::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 40 && alignof(CRITICAL_SECTION) <= 8);

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

CriticalSection::CriticalSection() {
    ::InitializeCriticalSection(Section(section_));
}

CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(Section(section_));
}

void CriticalSection::Enter() {
    ::EnterCriticalSection(Section(section_));
}

void CriticalSection::Leave() {
    ::LeaveCriticalSection(Section(section_));
}

bool CriticalSection::TryEnter() {
    return ::TryEnterCriticalSection(Section(section_)) != FALSE;
}

}  // namespace orvex::platform
