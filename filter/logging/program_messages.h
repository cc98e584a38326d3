// The filter's program messages, written to the activity log named "Log".
// They are GBK text: each constant holds the GBK bytes of the text in its
// comment.
#pragma once

namespace sentrel::messages {

// 程序加载完成 (loading finished)
inline constexpr char kLoaded[] = "\xb3\xcc\xd0\xf2\xbc\xd3\xd4\xd8\xcd\xea\xb3\xc9";

// 无行为模块，程序启动失败 (no behaviour module, start failed)
inline constexpr char kNoModule[] =
    "\xce\xde\xd0\xd0\xce\xaa\xc4\xa3\xbf\xe9\xa3\xac\xb3\xcc\xd0\xf2\xc6\xf4\xb6\xaf\xca\xa7\xb0"
    "\xdc";

// 模块数量超过限制（64），程序启动失败 (module count over the limit of 64, start failed)
inline constexpr char kTooManyModules[] =
    "\xc4\xa3\xbf\xe9\xca\xfd\xc1\xbf\xb3\xac\xb9\xfd\xcf\xde\xd6\xc6\xa3\xa8"
    "64"
    "\xa3\xa9\xa3\xac\xb3\xcc\xd0\xf2\xc6\xf4\xb6\xaf\xca\xa7\xb0\xdc";

// 程序启动中 (starting)
inline constexpr char kStarting[] = "\xb3\xcc\xd0\xf2\xc6\xf4\xb6\xaf\xd6\xd0";

// %s\t模块读取成功 (module read), a format for the module's name
inline constexpr char kModuleReadFormat[] = "%s\t\xc4\xa3\xbf\xe9\xb6\xc1\xc8\xa1\xb3\xc9\xb9\xa6";

// 程序启动成功 (started)
inline constexpr char kStarted[] = "\xb3\xcc\xd0\xf2\xc6\xf4\xb6\xaf\xb3\xc9\xb9\xa6";

// 程序卸载成功 (unloaded)
inline constexpr char kUnloaded[] = "\xb3\xcc\xd0\xf2\xd0\xb6\xd4\xd8\xb3\xc9\xb9\xa6";

// 客户端数量达到上限（%u），新客户端暂不检测 (client count at the limit, new
// clients not checked for now), a format for the limit
inline constexpr char kClientLimitFormat[] =
    "\xbf\xcd\xbb\xa7\xb6\xcb\xca\xfd\xc1\xbf\xb4\xef\xb5\xbd\xc9\xcf\xcf\xde\xa3\xa8"
    "%u"
    "\xa3\xa9\xa3\xac\xd0\xc2\xbf\xcd\xbb\xa7\xb6\xcb\xd4\xdd\xb2\xbb\xbc\xec\xb2\xe2";

// MetricsAllow 设置无效（%s），改用默认值 127.0.0.1 (MetricsAllow refused at the
// entry %s, the default 127.0.0.1 applies), a format for the refused entry
inline constexpr char kMetricsAllowRefusedFormat[] =
    "MetricsAllow \xc9\xe8\xd6\xc3\xce\xde\xd0\xa7\xa3\xa8%s\xa3\xa9\xa3\xac\xb8\xc4\xd3\xc3\xc4\xac\xc8\xcf"
    "\xd6\xb5 127.0.0.1";

// 爬虫验证在此版本中不可用，爬虫一律为 unknown (crawler verification is not
// available on this build: every crawler is unknown)
inline constexpr char kCrawlerCheckUnavailable[] =
    "\xc5\xc0\xb3\xe6\xd1\xe9\xd6\xa4\xd4\xda\xb4\xcb\xb0\xe6\xb1\xbe\xd6\xd0\xb2\xbb\xbf\xc9\xd3\xc3"
    "\xa3\xac\xc5\xc0\xb3\xe6\xd2\xbb\xc2\xc9\xce\xaa unknown";

// 爬虫验证无法启动（%s），爬虫一律为 unknown (crawler verification cannot
// start, for the reason %s: every crawler is unknown), a format for the reason
inline constexpr char kCrawlerCheckFailedFormat[] =
    "\xc5\xc0\xb3\xe6\xd1\xe9\xd6\xa4\xce\xde\xb7\xa8\xc6\xf4\xb6\xaf\xa3\xa8%s\xa3\xa9\xa3\xac"
    "\xc5\xc0\xb3\xe6\xd2\xbb\xc2\xc9\xce\xaa unknown";

// CrawlerResolver 设置无效（%s），改用系统的域名服务器 (CrawlerResolver refused
// at the value %s, the system's resolvers are used), a format for the value
inline constexpr char kCrawlerResolverRefusedFormat[] =
    "CrawlerResolver \xc9\xe8\xd6\xc3\xce\xde\xd0\xa7\xa3\xa8%s\xa3\xa9\xa3\xac\xb8\xc4\xd3\xc3"
    "\xcf\xb5\xcd\xb3\xb5\xc4\xd3\xf2\xc3\xfb\xb7\xfe\xce\xf1\xc6\xf7";
// 共享服务器不可用（%s），决定暂不共享 (the sharing server is unavailable (%s),
// decisions are not shared for now), a format for the server and the reason;
// written once per outage
inline constexpr char kShareDownFormat[] =
    "\xb9\xb2\xcf\xed\xb7\xfe\xce\xf1\xc6\xf7\xb2\xbb\xbf\xc9\xd3\xc3\xa3\xa8"
    "%s"
    "\xa3\xa9\xa3\xac\xbe\xf6\xb6\xa8\xd4\xdd\xb2\xbb\xb9\xb2\xcf\xed";

// 本版本不支持共享决定，Share 设置不起作用 (this build cannot share decisions, the
// Share settings have no effect)
inline constexpr char kShareUnavailable[] =
    "\xb1\xbe\xb0\xe6\xb1\xbe\xb2\xbb\xd6\xa7\xb3\xd6\xb9\xb2\xcf\xed\xbe\xf6\xb6\xa8\xa3\xac"
    "Share \xc9\xe8\xd6\xc3\xb2\xbb\xc6\xf0\xd7\xf7\xd3\xc3";

// The evaluation's diagnostic for a rule variable that stayed missing.
inline constexpr char kNoServerVariable[] = "No SV2";

}  // namespace sentrel::messages
