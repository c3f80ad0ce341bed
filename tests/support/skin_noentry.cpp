// A skin library without SkinH_Attach_Ex: the programs must refuse it rather than search on.
extern "C" __declspec(dllexport) int __stdcall SkinH_Detach() { return 0; }
