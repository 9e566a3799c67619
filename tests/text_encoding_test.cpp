#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

TEST(TextEncoding, RoundTripsChineseAndCharactersBeyondTheBasicPlane)
{
    const std::u16string text = u"光驱 /media/张三/我的 光盘 😀 o(∩_∩)o";
    const std::string utf8 = toUtf8(text);
    EXPECT_EQ(utf8, "光驱 /media/张三/我的 光盘 😀 o(∩_∩)o");
    EXPECT_EQ(fromUtf8(utf8), text);
    EXPECT_EQ(toUtf8(u""), "");
}

TEST(TextEncoding, IllFormedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(fromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(fromUtf8("\xE5\x85"), u"\uFFFD");          // cut short
    EXPECT_EQ(fromUtf8("\xC0\xAF"), u"\uFFFD");          // overlong '/'
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), u"\uFFFD");      // encoded surrogate
    EXPECT_EQ(toUtf8(std::u16string{u'x', char16_t(0xD800)}), "x\xEF\xBF\xBD");
    EXPECT_EQ(toUtf8(std::u16string{char16_t(0xDC00), u'y'}), "\xEF\xBF\xBDy");
}

} // namespace
} // namespace trayvo
