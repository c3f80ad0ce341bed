// File names, keys and protocol texts that peers and stored files rely on; ASCII only.
#pragma once

namespace names {

inline constexpr char kSkinLibrary[] = "SkinH_EL.dll";
inline constexpr char kSkinEntry[] = "SkinH_Attach_Ex";
inline constexpr char kSkinFile[] = "adamant.she";
inline constexpr char kMainApplication[] = "bvx.dll";
inline constexpr char kConfigFile[] = "Config.ini";
inline constexpr char kConfigSection[] = "System";
inline constexpr char kConfigVersionKey[] = "Version";
inline constexpr char kUpdateList[] = "UpdateList.xml";
inline constexpr char kUpdateNotes[] = "update.txt";
inline constexpr char kTemporarySuffix[] = ".tmp";

// In-memory fetch of the list and the notes
inline constexpr char kFetchAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// File download: agent is kDownloadAgentPrefix + tick count; the header block goes out byte for byte
inline constexpr char kDownloadAgentPrefix[] = "Agent";
inline constexpr char kDownloadHeaders[] =
    "Accept: */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
inline constexpr char kRangePrefix[] = "\r\nRange:bytes=";

}  // namespace names
