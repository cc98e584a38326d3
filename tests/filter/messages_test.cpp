// Every program message constant holds exactly the GBK bytes of its text.
#include <gtest/gtest.h>

#include "filter/logging/program_messages.h"
#include "platform/codepage.h"

namespace sentrel {
namespace {

TEST(ProgramMessages, ConstantsAreTheGbkBytesOfTheirTexts) {
  struct Case {
    const char* constant;
    const char* utf8;
  } cases[] = {
      {messages::kLoaded, "程序加载完成"},
      {messages::kNoModule, "无行为模块，程序启动失败"},
      {messages::kTooManyModules, "模块数量超过限制（64），程序启动失败"},
      {messages::kStarting, "程序启动中"},
      {messages::kModuleReadFormat, "%s\t模块读取成功"},
      {messages::kStarted, "程序启动成功"},
      {messages::kUnloaded, "程序卸载成功"},
      {messages::kClientLimitFormat, "客户端数量达到上限（%u），新客户端暂不检测"},
      {messages::kShareDownFormat, "共享服务器不可用（%s），决定暂不共享"},
      {messages::kShareUnavailable, "本版本不支持共享决定，Share 设置不起作用"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.constant), platform::Utf8ToCodePage(c.utf8)) << c.utf8;
    EXPECT_EQ(platform::CodePageToUtf8(c.constant), c.utf8);
  }
  EXPECT_STREQ(messages::kNoServerVariable, "No SV2");
}

}  // namespace
}  // namespace sentrel
