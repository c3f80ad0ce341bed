// Private window messages of the updater, in one place so two never share a number.
#pragma once

#include <windows.h>

namespace updater {

// Posted by the worker's command queue when it turns non-empty; the window drains the queue.
inline constexpr UINT kMsgDrainCommands = WM_APP + 1;

inline constexpr UINT_PTR kFinishTimerId = 1;

}  // namespace updater
