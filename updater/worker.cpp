#include "updater/worker.h"

#include "core/names.h"
#include "core/texts.h"
#include "updater/http_fetch.h"
#include "updater/state.h"

namespace updater {
namespace {

constexpr unsigned kFinishPeriodMs = 1000;

void SetStatusLine(const char* text) { Commands().Push(ui::SetText{ui::Control::StatusLine, text}); }

void FinishSoon() { Commands().Push(ui::SetTimerPeriod{kFinishPeriodMs}); }

}  // namespace

DWORD WINAPI WorkerMain(void*) {
  RunState& state = State();
  SetStatusLine(texts::kReadingData);
  FetchResult list = FetchToMemory(std::string(UPDATE_BASE_URL) + names::kUpdateList);
  if (state.stop_requested) return 0;
  // An error page is not a list, even one that happens to parse: it must never become the
  // stored local list.
  if (!list.ok() || list.body.empty()) {
    SetStatusLine(texts::kListFetchFailed);
    FinishSoon();
    return 0;
  }
  state.list_bytes = std::move(list.body);
  FinishSoon();
  return 0;
}

}  // namespace updater
