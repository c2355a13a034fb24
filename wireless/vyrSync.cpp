#include "vyrSync.h"

#include "win32/WinBase.h"

namespace vyr {

TvyrSync::TvyrSync() {
    win::InitializeCriticalSection(&cs_);
}
TvyrSync::~TvyrSync() {
    win::DeleteCriticalSection(&cs_);
}
void TvyrSync::Enter() {
    win::EnterCriticalSection(&cs_);
}
void TvyrSync::Leave() {
    win::LeaveCriticalSection(&cs_);
}

} // namespace vyr
