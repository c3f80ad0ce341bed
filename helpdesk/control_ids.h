// Window classes and control identifiers of the support window; the end-to-end tests find the
// window and its controls by these.
#pragma once

namespace helpdesk {

inline constexpr char kMainWindowClass[] = "HelpdeskMainWindow";
inline constexpr char kBrowserBoxClass[] = "HelpdeskBrowserBox";

inline constexpr int kIdGroupBox = 1001;
inline constexpr int kIdBrowserBox = 1002;

}  // namespace helpdesk
