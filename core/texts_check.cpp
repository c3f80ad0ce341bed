#include "core/texts.h"

// The texts are only useful as GBK bytes; a build that silently compiled them as UTF-8 would show
// mojibake on every Chinese Windows. "信" is D0 C5 in GBK and E4 BF A1 in UTF-8.
static_assert(static_cast<unsigned char>(texts::kMessageCaption[0]) == 0xD0 &&
                  static_cast<unsigned char>(texts::kMessageCaption[1]) == 0xC5,
              "core/texts.h must be compiled with -fexec-charset=GB18030");
