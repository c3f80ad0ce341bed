// Stand-in for the skin library: the least our programs need of it. It checks that the skin file
// can be opened and keeps nothing: callers free both texts as soon as the call returns.
#include <cstdio>

extern "C" __declspec(dllexport) int __stdcall SkinH_Attach_Ex(const char* skin_file, const char* password) {
  (void)password;
  if (skin_file == nullptr) return 1;
  std::FILE* f = std::fopen(skin_file, "rb");
  if (f == nullptr) return 1;
  std::fclose(f);
  return 0;
}
