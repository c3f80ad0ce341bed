// Every user-facing text of both programs. The file is UTF-8; the build compiles string literals
// to GBK bytes (-fexec-charset=GB18030, GBK's superset), the ANSI code page the programs run under, so each constant below
// holds exactly the bytes Windows shows. Keep non-ASCII texts here and nowhere else.
#pragma once

namespace texts {

// Updater window
inline constexpr char kUpdaterCaption[] = "自动升级程序 更新程序";
inline constexpr char kStatusLineInitial[] = "标签";
inline constexpr char kStateLabel[] = "状态：";
inline constexpr char kColumnVersion[] = "版本";
inline constexpr char kColumnName[] = "名称";
inline constexpr char kColumnProgress[] = "进度";
inline constexpr char kColumnFolder[] = "位置";
inline constexpr char kStatusBarDownloaded[] = "已下载：";
inline constexpr char kStatusBarRate[] = "传速率：";
inline constexpr char kStatusBarTotal[] = "总大小：";

// Update check, on the status line
inline constexpr char kReadingData[] = "正在读取数据..";
inline constexpr char kListFetchFailed[] = "获取更新信息失败..";
inline constexpr char kLookingForUpdates[] = "正在查找服务器上是否有文件更新..";
inline constexpr char kUpdatesFound[] = "发现更新文件";

// Download failures: task-modal boxes, no icon, OK only
inline constexpr char kMessageCaption[] = "信息：";
inline constexpr char kInternetError[] = "Internet连接错误!";
inline constexpr char kCannotOpenUrl[] = "不能打开该URL!";
inline constexpr char kCannotOpenLocalFile[] = "不能打开本地的文件!";
inline constexpr char kReadError[] = "读文件出错!";

// Progress display: status bar parts, then the unit that follows each number
inline constexpr char kSizePrefix[] = "大小:";
inline constexpr char kReceivedPrefix[] = "下载:";
inline constexpr char kSpeedPrefix[] = "速度:";
inline constexpr char kKilobytes[] = "KB";
inline constexpr char kKilobytesPerSecond[] = "KB/s";
inline constexpr char kPercent[] = "%";

// Support chat window
inline constexpr char kHelpdeskCaption[] = "软件客服";

// Fatal start-up errors (error icon, no owner); both programs bind the skin library the same way
inline constexpr char kFatalCaption[] = "错误";
inline constexpr char kSkinEntryMissingPrefix[] = "找不到函数入口 ";  // + entry + kSkinEntryMissingMiddle + library
inline constexpr char kSkinEntryMissingMiddle[] = "，动态链接库：";
inline constexpr char kWindowCreateFailed[] = "无法创建窗口。";

}  // namespace texts
