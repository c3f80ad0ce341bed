// Which update list entries the updater may act on. The list comes over plain HTTP, so a hostile
// or broken one must not make the updater create or write anything outside its run directory, nor
// open a device in place of a file. An entry that fails these tests is still listed, but nothing
// is created or downloaded for it.
//
// Texts are GBK bytes as the list holds them. "\" is searched character by character (the second
// byte of a double-byte character may be 5C); "/", ":" and control bytes are below 40 and can
// never be a second byte, so a byte search finds only real ones.
#pragma once

#include <string_view>

namespace confinement {

// A folder ("url" value) that stays below the run directory: empty (the run directory itself), or
// beginning and ending with "\", with no component that climbs out, names a device or is not a
// well-formed GBK text.
bool IsSafeFolder(std::string_view folder);

// A file name that stays inside its folder and names an ordinary file there.
bool IsSafeName(std::string_view name);

// Both: the entry's file, run directory + "\" + folder + name, lies below the run directory.
bool IsConfined(std::string_view name, std::string_view folder);

}  // namespace confinement
