#include "core/texts.h"

#include <gtest/gtest.h>

#include <string>

// Windows shows these bytes as they are under code page 936; a wrong execution charset would
// turn every Chinese text into mojibake without any compiler warning.
TEST(Texts, ChineseTextsAreGbkBytes) {
  EXPECT_EQ(std::string(texts::kMessageCaption), "\xD0\xC5\xCF\xA2\xA3\xBA");          // 信息：
  EXPECT_EQ(std::string(texts::kHelpdeskCaption), "\xC8\xED\xBC\xFE\xBF\xCD\xB7\xFE");  // 软件客服
  EXPECT_EQ(std::string(texts::kInternetError), "Internet\xC1\xAC\xBD\xD3\xB4\xED\xCE\xF3!");
}
