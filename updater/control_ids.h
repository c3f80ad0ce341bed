// Identifiers of the updater window's controls; the UI probe of the tests finds them by these.
#pragma once

namespace updater {

enum ControlId : int {
  kIdStatusLine = 1001,  // 标签1
  kIdFileList = 1002,    // 超级列表框1
  kIdProgressBar = 1003, // 进度条1
  kIdNotes = 1004,       // 编辑框1
  kIdStatusBar = 1005,   // 状态条1
  kIdStateLabel = 1006,  // 标签_状态
};

inline constexpr char kWindowClass[] = "UpdaterMainWindow";

}  // namespace updater
