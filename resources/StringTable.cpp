#include "resources/StringTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace {

#ifndef TIDEWELL_VENDOR_HOST
#define TIDEWELL_VENDOR_HOST "tidewell.merovex.com"
#endif
// The web addresses are complete "http://" addresses on the vendor's site.
#define TIDEWELL_VENDOR_URL "http://" TIDEWELL_VENDOR_HOST

// Sorted by id.
constexpr StringEntry kStrings[] = {
    {100, "OLE初始化失败。", "OLE initialisation failed."},
    {101, "套接字初始化失败。", "Socket initialisation failed."},
    {102, "发生一未知错误，代码为%08x。", "An unknown error occurred (code %08x)."},
    {105, "数据不完整。", "The data is incomplete."},
    {107, "空闲", "Idle"},
    {108, "HTTP代理建立在IP:%s,端口:%d。", "HTTP proxy listening on %s, port %d."},
    {109, "资源名", "Name"},
    {110, "类型", "Type"},
    {111, "大小", "Size"},
    {112, "状态", "Status"},
    {113, "位置", "Address"},
    {115, "主机地址无法识别。", "The host address is not recognised."},
    {117, "序号", "No."},
    {118, "引用", "Referrer"},
    {119, "完成", "Done"},
    {120, "加载中...", "Loading..."},
    {121, "确定要清除所有资源？", "Clear all resources?"},
    {122, "请求头", "Request head"},
    {123, "请求数据", "Request body"},
    {124, "响应头", "Response head"},
    {125, "响应数据", "Response body"},
    {126, "预览", "Preview"},
    {127, "字段", "Field"},
    {128, "Tidewell\nTidewell\n\n\n\nTidewell.Document\nTidewell.Document",
     "Tidewell\nTidewell\n\n\n\nTidewell.Document\nTidewell.Document"},
    {129, "值", "Value"},
    {130, "请求", "Request"},
    {132, "响应", "Response"},
    {133, "无请求数据", "No request body"},
    {134, "无响应数据", "No response body"},
    {135, "数据加载失败", "The data could not be loaded"},
    {136, "资源没有准备好。", "The resource is not ready."},
    {137, "无法预览该图片", "This image cannot be previewed"},
    {138, "不支持预览该类型资源", "Resources of this type cannot be previewed"},
    {139, "无数据", "No data"},
    {140, "资源没有准备好", "The resource is not ready"},
    {141, "无法创建预览文件", "The preview file could not be created"},
    {142, "<span bold=\"true\" color=\"gray\">%s", "<span bold=\"true\" color=\"gray\">%s"},
    {143,
     "<span bold=\"true\">尺寸: <span bold=\"false\">%dX%d<br>"
     "<span bold=\"true\">页数: <span bold=\"false\">%d",
     "<span bold=\"true\">Size: <span bold=\"false\">%dx%d<br>"
     "<span bold=\"true\">Pages: <span bold=\"false\">%d"},
    {144, "编码方式不支持", "The coding is not supported"},
    {145, "错误的块编码", "Bad chunked coding"},
    {146, "应用", "Application"},
    {147, "音频", "Audio"},
    {148, "图像", "Image"},
    {149, "消息", "Message"},
    {150, "模型", "Model"},
    {151, "复合", "Multipart"},
    {152, "文本", "Text"},
    {153, "视频", "Video"},
    {154, "其它", "Other"},
    {163, "地址参数", "Query parameters"},
    {164, "退出之前是否保存捕捉记录?", "Keep the captures before quitting?"},
    {165, "没有响应数据。", "There is no response body."},
    {166, "资源'%s'编码方式不支持，是否不解码直接导出？",
     "The coding of resource '%s' is not supported. Export it without decoding?"},
    {167, "资源'%s'导出失败：%s是否继续导出其它资源？",
     "Resource '%s' could not be exported: %s\n\nExport the other resources?"},
    {168,
     "因为程序之前异常退出，如果您因为代理错误而无法访问网络，请点‘是’，那样将恢复您之前的代理设"
     "置。",
     "The program ended abnormally last time. If you cannot reach the network because of proxy "
     "errors, click Yes to restore your previous proxy settings."},
    {169, "关于Tidewell", "About Tidewell"},
    {170, TIDEWELL_VENDOR_URL "/help.php?p=tidewell&v=%s&l=zh-CN",
     TIDEWELL_VENDOR_URL "/help.php?p=tidewell&v=%s&l=en"},
    {171, TIDEWELL_VENDOR_URL "/check_update.php?p=tidewell&v=%s&l=zh-CN&u=%s",
     TIDEWELL_VENDOR_URL "/check_update.php?p=tidewell&v=%s&l=en&u=%s"},
    {172, "程序有更新，是否要查看该更新？", "An update is available. View it?"},
    {173, TIDEWELL_VENDOR_URL "/uninstall.php?p=tidewell&v=%s&l=zh-CN&u=%s",
     TIDEWELL_VENDOR_URL "/uninstall.php?p=tidewell&v=%s&l=en&u=%s"},
    {174, TIDEWELL_VENDOR_URL "/feedback.php?p=tidewell&v=%s&l=zh-CN",
     TIDEWELL_VENDOR_URL "/feedback.php?p=tidewell&v=%s&l=en"},
    {175, TIDEWELL_VENDOR_URL "/third_party.php?p=tidewell&v=%s&l=zh-CN",
     TIDEWELL_VENDOR_URL "/third_party.php?p=tidewell&v=%s&l=en"},
    {176, TIDEWELL_VENDOR_URL "/index.php?p=tidewell&v=%s&l=zh-CN",
     TIDEWELL_VENDOR_URL "/index.php?p=tidewell&v=%s&l=en"},
    // Texts of the program's own that the first design kept in dialogs and menus.
    {180, "确定", "OK"},
    {181, "是(&Y)", "&Yes"},
    {182, "否(&N)", "&No"},
    {183, "取消", "Cancel"},
    {184, "版本:", "Version:"},
    {185, "© 2026 Merovex 版权所有。", "© 2026 Merovex. All rights reserved."},
    {186, "官网", "Home page"},
    {187, "意见反馈", "Feedback"},
    {188, "第三方代码", "Third-party code"},
    {189,
     "tidewell：无法从 %s 读取 Qt 的中文文本（Debian 软件包 qt6-translations-l10n），"
     "文件对话框和标准按钮将显示英文。\n",
     "tidewell: cannot load the toolkit's Chinese texts from %s (Debian package "
     "qt6-translations-l10n); file dialogs and standard buttons stay English.\n"},
    // The ribbon: the style menu, the category, its panels, buttons and menu items.
    {200, "样式", "Style"},
    {201, "Office 2007 (蓝色)", "Office 2007 (Blue)"},
    {202, "Office 2007 (黑色)", "Office 2007 (Black)"},
    {203, "Office 2007 (银色)", "Office 2007 (Silver)"},
    {204, "Office 2007 (墨绿)", "Office 2007 (Aqua)"},
    {205, "Windows 7", "Windows 7"},
    {210, "开始", "Home"},
    {211, "捕捉", "Capture"},
    {212, "资源", "Resources"},
    {213, "视图", "View"},
    {220, "开始", "Start"},
    {221, "停止", "Stop"},
    {222, "选项", "Options"},
    {223, "阻止客服端缓存资源", "Keep clients from caching"},
    {224, "列表", "List"},
    {225, "按顺序查看", "In order"},
    {226, "按类型查看", "By type"},
    {227, "按目录查看", "By directory"},
    {228, "按引用查看", "By referrer"},
    {229, "清空", "Clear"},
    {230, "导出", "Export"},
    {231, "合并导出", "Export merged"},
    {232, "窗口", "Windows"},
    // The language entries of the capture options menu. Each language is named in itself.
    {240, "跟随系统", "System language"},
    {241, "English", "English"},
    {242, "中文", "中文"},
    {243, "Tidewell 下次启动时将使用所选的语言。",
     "Tidewell uses the chosen language from its next start."},
    // The hyperlink control's messages. They are the ones its first design showed, in English
    // whatever the language.
    {250, "Unable to open hyperlink:\n\n", "Unable to open hyperlink:\n\n"},
    {251, "The operating system is out\nof memory or resources.",
     "The operating system is out\nof memory or resources."},
    {252, "The specified file was not found.", "The specified file was not found."},
    {253, "The specified path was not found.", "The specified path was not found."},
    {254, "The operating system denied\naccess to the specified file.",
     "The operating system denied\naccess to the specified file."},
    {255, "There was not enough memory to complete the operation.",
     "There was not enough memory to complete the operation."},
    {256, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).",
     "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {257, "A sharing violation occurred. ", "A sharing violation occurred. "},
    {258, "The filename association is\nincomplete or invalid.",
     "The filename association is\nincomplete or invalid."},
    {259, "The DDE transaction could not\nbe completed because the request timed out.",
     "The DDE transaction could not\nbe completed because the request timed out."},
    {260, "The DDE transaction failed.", "The DDE transaction failed."},
    {261,
     "The DDE transaction could not\nbe completed because other DDE transactions\n"
     "were being processed.",
     "The DDE transaction could not\nbe completed because other DDE transactions\n"
     "were being processed."},
    {262, "There is no application associated\nwith the given filename extension.",
     "There is no application associated\nwith the given filename extension."},
    {263, "The specified dynamic-link library was not found.",
     "The specified dynamic-link library was not found."},
    {264, "Unknown Error (%d) occurred.", "Unknown Error (%d) occurred."},
    // Our own error codes (0xE0000000 | id).
    {400, "报文头过长。", "The message head is too long."},
    {420, "找不到空闲的端口来建立HTTP代理。", "No free port was found for the HTTP proxy."},
    // The cache folder and what happens to captures on their way to it.
    {460, "缓存文件夹正被另一个进程使用。", "The cache folder is in use by another process."},
    {461, "缓存文件夹“%s”正被另一个进程（进程号%d）使用，不能同时在此捕捉。",
     "The cache folder \"%s\" is in use by another process (process %d); two captures cannot "
     "share it."},
    {462, "缓存文件夹“%s”正被另一个进程使用，不能同时在此捕捉。",
     "The cache folder \"%s\" is in use by another process; two captures cannot share it."},
    {463, "捕捉中断。", "The capture was cut off."},
    {464, "捕捉的数据无法保存到缓存文件夹：%s",
     "Captured data could not be stored in the cache folder: %s"},
    {465, "缓存文件夹“%s”正由 tidewell-capture（进程号%d）用于捕捉，不能同时在此捕捉。",
     "The cache folder \"%s\" is in use: tidewell-capture (process %d) is capturing into it, "
     "and two captures cannot share a folder."},
    {466,
     "缓存文件夹“%s”正被打开着的 Tidewell 桌面程序（进程号%d）使用，不能同时在此捕捉。"
     "请先关闭桌面程序；tidewell-capture --har 随时可以读取这个文件夹。",
     "The cache folder \"%s\" is in use by the open Tidewell desktop program (process %d), and "
     "two captures cannot share a folder. Close the desktop program first; "
     "tidewell-capture --har can read the folder at any time."},
    {467, "缓存文件夹“%s”是只读的：可以浏览和导出其中的捕捉记录，但不能在此捕捉或删除。",
     "The cache folder \"%s\" is read-only: its captures can be browsed and exported, but not "
     "made or deleted there."},
    {468, "缓存文件夹“%s”无法使用：%s", "The cache folder \"%s\" cannot be used: %s"},
    {469, "%d 个文件无法读取，已跳过（%s）。", "%d files could not be read and were skipped (%s)."},
    {470, "1 个文件无法读取，已跳过（%s）。", "1 file could not be read and was skipped (%s)."},
    {471, "未能保存：%s", "Not stored: %s"},
    {472,
     "Tidewell 需要图形会话（X11 或 Wayland）才能运行。没有图形界面时，请在终端中用 "
     "tidewell-capture 捕捉（tidewell-capture --help 列出它的选项）。",
     "Tidewell needs a graphical session (X11 or Wayland). Without one, capture from a terminal "
     "with tidewell-capture (tidewell-capture --help lists its options)."},
    // Tunnels and the loop guard of the proxy.
    {480, "这个请求的目标是Tidewell代理本身，为避免无限循环，没有转发。",
     "This request was aimed at the Tidewell proxy itself and was not relayed, to avoid an "
     "endless loop."},
    {481, "已连接", "Connected"},
    {482, "客户端关闭", "Closed by the client"},
    {483, "服务器关闭", "Closed by the server"},
    {484, "停止捕捉时断开", "Cut when capturing stopped"},
    {485, "隧道", "Tunnel"},
    {486, "客户端使用了 HTTP/2 或更新的协议，Tidewell 只支持 HTTP/1.1。",
     "The client spoke HTTP/2 or later; Tidewell speaks HTTP/1.1 only."},
    {487, "Tidewell 只支持 HTTP/1.1，请让客户端改用 HTTP/1.1。",
     "Tidewell speaks HTTP/1.1 only: have the client use HTTP/1.1."},
    {488, "这个代理只为运行 Tidewell 的用户服务。",
     "This proxy serves only the user who runs Tidewell."},
    {489,
     "另一个用户（uid %u）的程序试图使用本代理，已被拒绝，没有捕捉。Tidewell "
     "只为你自己的程序服务。",
     "A program of another user (uid %u) tried to use this proxy and was refused; nothing of it "
     "was "
     "captured. Tidewell serves your own programs only."},
    // HAR export and copy as curl.
    {510, "隧道记录没有可以重新发送的请求。", "A tunnel has no request that can be sent again."},
    {511, "有%d个请求头含有命令行无法表示的字节，已略去。",
     "%d request header fields hold bytes a command line cannot carry; they were left out."},
    {512, "有%d个资源的记录无法读取，没有写入HAR文件。",
     "%d resources could not be read and were left out of the HAR file."},
    {513, "捕捉记录.har", "captures.har"},
    // The origin's side of an exchange.
    {521, "服务器在请求体发送完之前已经应答。",
     "The server answered before the request body was sent."},
    {522, "名称解析失败", "Name lookup failed"},
    {523, "连接被拒绝", "Connection refused"},
    {524, "连接超时", "Connection timed out"},
    {525, "服务器没有应答", "The server did not answer"},
    {526, "服务器没有应答就关闭了连接", "The server closed the connection without answering"},
    {527, "与服务器的TLS握手超时", "The TLS handshake with the server timed out"},
    {528, "Tidewell 无法从 %s 得到应答：%s", "Tidewell got no answer from %s: %s"},
    // HTTPS decryption: error codes.
    {601, "客户端不信任根证书", "The client does not trust the root certificate"},
    {602, "服务器证书不受信任。", "The server's certificate is not trusted."},
    {603, "服务器证书已过期或尚未生效。",
     "The server's certificate has expired or is not yet valid."},
    {604, "服务器证书与主机名不符。", "The server's certificate does not match the host name."},
    {605, "服务器证书无效。", "The server's certificate is invalid."},
    {606, "与服务器的TLS握手失败。", "The TLS handshake with the server failed."},
    {607, "与客户端的TLS握手失败。", "The TLS handshake with the client failed."},
    {608, "根证书无法读取或已损坏。", "The root certificate cannot be read or is damaged."},
    {609, "无法为该主机名签发证书。", "No certificate can be issued for this host name."},
    {610, "证书库操作失败（certutil）。", "A certificate database operation failed (certutil)."},
    {611, "没有找到该浏览器。", "The browser was not found."},
    {612, "上游代理拒绝建立隧道。", "The upstream proxy refused to open a tunnel."},
    {613, "客户端不接受 HTTP/1.1（它只提供 HTTP/2 等协议），Tidewell 只支持 HTTP/1.1。",
     "The client does not accept HTTP/1.1 (it offers only HTTP/2 or other protocols); Tidewell "
     "speaks HTTP/1.1 only."},
    // HTTPS decryption: questions, messages and menu entries.
    {620,
     "解密 HTTPS 需要浏览器信任 Tidewell 的根证书。\n\n"
     "最快的办法是打开一个专为本次捕捉设置的浏览器：它使用临时配置并信任根证书，"
     "不改动任何证书库，关闭后临时配置即被删除。\n\n现在打开浏览器吗？",
     "To decrypt HTTPS, a browser must trust Tidewell's root certificate.\n\n"
     "The quickest way is a browser set up for this capture: it uses a temporary profile that "
     "trusts the root certificate, changes no certificate database, and the profile is deleted "
     "when the browser closes.\n\nOpen the browser now?"},
    {621,
     "将在以下证书库中信任 Tidewell 的根证书（用于网站）：\n\n%s\n"
     "证书：%s\nSHA-256：%s\n\n"
     "正在运行的浏览器重新启动后才能看到。以后可用“移除根证书”撤销。是否继续？",
     "Tidewell's root certificate will be trusted (for websites) in these certificate "
     "databases:\n\n%s\nCertificate: %s\nSHA-256: %s\n\n"
     "Running browsers see it once restarted. \"Remove root certificate\" undoes it. Continue?"},
    {622, "浏览器的证书库都已信任根证书，或者没有可更改的证书库。",
     "Every browser certificate database already trusts the root certificate, or there is "
     "none to change."},
    {623, "已在以下证书库中信任根证书：\n\n%s",
     "The root certificate is now trusted in these certificate databases:\n\n%s"},
    {624, "以下证书库未能更改：\n\n%s", "These certificate databases could not be changed:\n\n%s"},
    {625, "没有由 Tidewell 添加的根证书。", "There is no root certificate added by Tidewell."},
    {626, "已从以下证书库中移除根证书：\n\n%s",
     "The root certificate was removed from these certificate databases:\n\n%s"},
    {627,
     "每行一个主机名，可使用通配符 * 和 ?（例如 *.bank.example）。\n"
     "这些主机的 HTTPS 只转发、不解密，适用于固定证书的程序。",
     "One host name per line; * and ? are wildcards (for example *.bank.example).\n"
     "HTTPS to these hosts is relayed, never decrypted: for programs that pin their "
     "certificates."},
    {628, "不解密的主机", "Pass-through hosts"},
    {629, "用哪个浏览器捕捉？", "Capture with which browser?"},
    {630, "Chromium：%s", "Chromium: %s"},
    {631, "Firefox 配置“%s”：%s", "Firefox profile \"%s\": %s"},
    {632, "（新建证书库）", " (new certificate database)"},
    {633, "PEM 证书 (*.pem *.crt)", "PEM certificates (*.pem *.crt)"},
    {634, "Tidewell 无法安全地连接到 %s：%s（%s）\n",
     "Tidewell cannot connect securely to %s: %s (%s)\n"},
    {635, "Firefox 配置“%s”的路径 %s 指向 Firefox 文件夹以外，已跳过。",
     "Firefox profile \"%s\": its path %s leads outside the Firefox folder; skipped."},
    {636, "%s 已有根证书（名称为“%s”），未作改动。",
     "%s already holds the root certificate (named \"%s\"); left as it is."},
    {637, "%s 无法读取，未作改动。", "%s could not be read; left as it is."},
    {638, "%s 是 Tidewell 新建的证书库，但其中已有别的证书或密钥，已保留。",
     "%s was made by Tidewell but now holds other certificates or keys; kept."},
    {639, "以下证书库未作改动：\n\n%s", "Left as they are:\n\n%s"},
    {640, "解密 HTTPS", "Decrypt HTTPS"},
    {641, "打开浏览器", "Open browser"},
    {642, "不解密的主机…", "Pass-through hosts…"},
    {643, "安装根证书…", "Install root certificate…"},
    {644, "移除根证书", "Remove root certificate"},
    {645, "导出根证书…", "Export root certificate…"},
    {646, "%s 启动后立即退出了（退出状态 %d）。",
     "%s quit right after it started (exit status %d)."},
    {647, "%s 无法运行（退出状态 %d）。", "%s could not be run (exit status %d)."},
    {648, "以 root 身份运行时，Chromium 不加 --no-sandbox 就不会启动。",
     "Chromium does not start as root without --no-sandbox."},
    // The resource browser's filter and preview notes.
    {700, "内容超过 2 MiB，预览只显示了前 2 MiB。",
     "The content is over 2 MiB; the preview shows the first 2 MiB only."},
    {701, "筛选地址，也可用 type:image  status:4xx  method:POST  host:example.com  (Ctrl+F)",
     "Filter by address, or type:image  status:4xx  method:POST  host:example.com  (Ctrl+F)"},
    {702, "显示 %d / %d", "Showing %d / %d"},
    {703, "状态码“%s”无法识别，可写作 404、4xx 或 4",
     "Status code \"%s\" not recognised; write it as 404, 4xx or 4"},
    {704, "没有符合筛选条件的资源", "No resources match the filter"},
    // Usage errors of the command-line program.
    {750, "%s 需要一个值", "%s needs a value"},
    {752, "用 tidewell-capture --help 查看所有选项。",
     "See tidewell-capture --help for the options."},
    // Files and folders that cannot be used, named.
    {770, "无法创建文件夹“%s”：%s", "Cannot create the folder \"%s\": %s"},
    {771, "无法写入文件“%s”：%s", "Cannot write the file \"%s\": %s"},
    {772, "文件夹“%s”无法使用：%s", "The folder \"%s\" cannot be used: %s"},
    {773, "根证书文件夹“%s”：%s", "Root certificate folder \"%s\": %s"},
    {780, "没有勾选的项。要导出哪些？", "No rows are checked. Which do you want to export?"},
    {781, "导出显示的 %s 项", "The %s shown"},
    {782, "全部 %s 项", "All %s"},
    {783, "已导出 1 项到“%s”。", "Exported 1 resource to \"%s\"."},
    {784, "已导出 %s 项到“%s”。", "Exported %s resources to \"%s\"."},
    // Video and audio streams.
    {900, "媒体流", "Streams"},
    {901, "保存为视频文件", "Save as video file"},
    {902, "此媒体流以 SAMPLE-AES 方式加密，无法保存为可播放的文件。",
     "This stream is encrypted with SAMPLE-AES and cannot be saved as a playable file."},
    {903, "此媒体流受 DRM 保护，无法保存。",
     "This stream is protected by DRM and cannot be saved."},
    {904, "没有捕捉到此清晰度的播放列表。", "The playlist of this variant was not captured."},
    {905, "此媒体流的片段一个也没有捕捉到。", "None of the stream's segments were captured."},
    {906, "片段 %s 无法读取：%s", "Segment %s could not be read: %s"},
    {907, "密钥 %s 不是 16 字节，无法解密。",
     "The key %s is not 16 bytes long, so the segments cannot be decrypted."},
    {908, "片段 %s 无法解密（密钥不对？）。", "Segment %s could not be decrypted (wrong key?)."},
    {909, "无法识别片段的格式：%s", "The format of the segments is not recognised: %s"},
    {910, "%s 文件不能容纳 %s 编码，请另存为 .mkv。", "A %s file cannot hold %s; save it as .mkv."},
    {911, "无法写入 %s：%s", "Could not write %s: %s"},
    {912, "缺少 %d 个片段（共 %d 个）：%s", "%d of %d segments are missing: %s"},
    {913, "已取消。", "Cancelled."},
    {914, "没有编号为 %u 的媒体流。", "There is no stream %u."},
    {915, "%d / %d 个片段", "%d / %d segments"},
    {916, "MP4 视频 (*.mp4);;MPEG-TS 视频 (*.ts);;Matroska 视频 (*.mkv)",
     "MP4 video (*.mp4);;MPEG-TS video (*.ts);;Matroska video (*.mkv)"},
    {917, "正在保存视频文件…", "Saving the video file…"},
    {918, "%s\n\n仍然保存吗？缺少的部分在文件中留空。",
     "%s\n\nSave anyway? The missing parts are left out of the file."},
    {919, "已保存 %s。", "Saved %s."},
    {920, "没有第 %d 个清晰度（共 %d 个）。", "There is no variant %d (the stream has %d)."},
    {921, "音频", "audio"},
    {922, "已保存 %s，但%s", "Saved %s, but %s"},
    {923, "片段中没有可保存的视频或音频。", "The segments hold no video or audio to save."},
    {924, "读取片段失败：%s", "Reading the segments failed: %s"},
    {925, "直播", "live"},
    {926, "清晰度\n格式\n文件", "Variant\nFormat\nFile"},
    {927, "%s 已存在，要替换它吗？", "%s already exists. Replace it?"},
    {928, "缺少的部分在文件中留空。", "The missing parts are left out of the file."},
    {929, "保存", "Save"},
    {930, "浏览…", "Browse…"},
    // The C library's messages for common errno values (1000 + errno), for when its own
    // translations are not installed. The English is the C library's, word for word.
    {1001, "不允许的操作", "Operation not permitted"},                               // EPERM
    {1002, "没有那个文件或目录", "No such file or directory"},                       // ENOENT
    {1003, "没有那个进程", "No such process"},                                       // ESRCH
    {1004, "被中断的系统调用", "Interrupted system call"},                           // EINTR
    {1005, "输入/输出错误", "Input/output error"},                                   // EIO
    {1006, "没有那个设备或地址", "No such device or address"},                       // ENXIO
    {1007, "参数列表过长", "Argument list too long"},                                // E2BIG
    {1008, "可执行文件格式错误", "Exec format error"},                               // ENOEXEC
    {1009, "错误的文件描述符", "Bad file descriptor"},                               // EBADF
    {1010, "没有子进程", "No child processes"},                                      // ECHILD
    {1011, "资源暂时不可用", "Resource temporarily unavailable"},                    // EAGAIN
    {1012, "无法分配内存", "Cannot allocate memory"},                                // ENOMEM
    {1013, "权限不够", "Permission denied"},                                         // EACCES
    {1014, "错误的地址", "Bad address"},                                             // EFAULT
    {1016, "设备或资源忙", "Device or resource busy"},                               // EBUSY
    {1017, "文件已存在", "File exists"},                                             // EEXIST
    {1018, "无效的跨设备链接", "Invalid cross-device link"},                         // EXDEV
    {1019, "没有那个设备", "No such device"},                                        // ENODEV
    {1020, "不是目录", "Not a directory"},                                           // ENOTDIR
    {1021, "是一个目录", "Is a directory"},                                          // EISDIR
    {1022, "无效的参数", "Invalid argument"},                                        // EINVAL
    {1023, "系统中打开的文件过多", "Too many open files in system"},                 // ENFILE
    {1024, "打开的文件过多", "Too many open files"},                                 // EMFILE
    {1026, "文本文件忙", "Text file busy"},                                          // ETXTBSY
    {1027, "文件过大", "File too large"},                                            // EFBIG
    {1028, "设备上没有空间", "No space left on device"},                             // ENOSPC
    {1029, "非法 seek 操作", "Illegal seek"},                                        // ESPIPE
    {1030, "只读文件系统", "Read-only file system"},                                 // EROFS
    {1031, "过多的链接", "Too many links"},                                          // EMLINK
    {1032, "断开的管道", "Broken pipe"},                                             // EPIPE
    {1034, "数值结果超出范围", "Numerical result out of range"},                     // ERANGE
    {1035, "已避免资源死锁", "Resource deadlock avoided"},                           // EDEADLK
    {1036, "文件名过长", "File name too long"},                                      // ENAMETOOLONG
    {1037, "没有可用的锁", "No locks available"},                                    // ENOLCK
    {1038, "函数未实现", "Function not implemented"},                                // ENOSYS
    {1039, "目录非空", "Directory not empty"},                                       // ENOTEMPTY
    {1040, "符号链接的层数过多", "Too many levels of symbolic links"},               // ELOOP
    {1071, "协议错误", "Protocol error"},                                            // EPROTO
    {1074, "错误的消息", "Bad message"},                                             // EBADMSG
    {1075, "对已定义的数据类型来说值过大", "Value too large for defined data type"}, // EOVERFLOW
    {1084, "无效或不完整的多字节字符或宽字符",
     "Invalid or incomplete multibyte or wide character"},                    // EILSEQ
    {1088, "对非套接字进行套接字操作", "Socket operation on non-socket"},     // ENOTSOCK
    {1090, "消息过长", "Message too long"},                                   // EMSGSIZE
    {1093, "不支持的协议", "Protocol not supported"},                         // EPROTONOSUPPORT
    {1095, "不支持的操作", "Operation not supported"},                        // EOPNOTSUPP
    {1097, "协议不支持的地址族", "Address family not supported by protocol"}, // EAFNOSUPPORT
    {1098, "地址已在使用", "Address already in use"},                         // EADDRINUSE
    {1099, "无法指定被请求的地址", "Cannot assign requested address"},        // EADDRNOTAVAIL
    {1100, "网络已关闭", "Network is down"},                                  // ENETDOWN
    {1101, "网络不可达", "Network is unreachable"},                           // ENETUNREACH
    {1102, "重置时断开网络连接", "Network dropped connection on reset"},      // ENETRESET
    {1103, "软件导致连接中止", "Software caused connection abort"},           // ECONNABORTED
    {1104, "连接被对方重置", "Connection reset by peer"},                     // ECONNRESET
    {1105, "没有可用的缓冲区空间", "No buffer space available"},              // ENOBUFS
    {1106, "传输端点已连接", "Transport endpoint is already connected"},      // EISCONN
    {1107, "传输端点尚未连接", "Transport endpoint is not connected"},        // ENOTCONN
    {1108, "无法在传输端点关闭以后发送",
     "Cannot send after transport endpoint shutdown"},         // ESHUTDOWN
    {1110, "连接超时", "Connection timed out"},                // ETIMEDOUT
    {1111, "拒绝连接", "Connection refused"},                  // ECONNREFUSED
    {1112, "主机关闭", "Host is down"},                        // EHOSTDOWN
    {1113, "没有到主机的路由", "No route to host"},            // EHOSTUNREACH
    {1114, "操作已经在进行", "Operation already in progress"}, // EALREADY
    {1115, "操作现在正在进行", "Operation now in progress"},   // EINPROGRESS
    {1116, "过旧的文件句柄", "Stale file handle"},             // ESTALE
    {1122, "超出磁盘配额", "Disk quota exceeded"},             // EDQUOT
    {1125, "操作已取消", "Operation canceled"},                // ECANCELED
    // What the programs print on the command line.
    {1200, "--lang 只接受 en 或 zh：%s", "--lang takes en or zh: %s"},
    {1201,
     "用法：tidewell-capture [--port N] [--no-system-proxy] [--https decrypt|tunnel]\n"
     "                       [--pass-through HOSTS] [--browser chromium|firefox]\n"
     "       tidewell-capture --install-ca [--yes] | --remove-ca | --export-ca FILE\n"
     "       tidewell-capture --har FILE|-\n"
     "       tidewell-capture --streams | --save-stream ID FILE [--variant N]\n"
     "       tidewell-capture --help | --version\n"
     "\n"
     "运行捕捉代理，直到被中断（Ctrl+C 或 SIGTERM），然后把每个捕捉记录\n"
     "保存在缓存文件夹中，供桌面程序使用。\n"
     "\n"
     "  --port N            最先尝试的端口（默认 2861；被占用时换下一个空闲端口；\n"
     "                      0 表示任选一个空闲端口）\n"
     "  --no-system-proxy   不改动系统代理设置\n"
     "  --https MODE        decrypt：用 Tidewell 的根证书解密并捕捉 HTTPS；\n"
     "                      tunnel（默认）：只转发，不解密\n"
     "  --pass-through HOSTS  不解密的主机，用逗号分隔，可使用通配符 * 和 ?\n"
     "                      （加入桌面程序保存的列表）\n"
     "  --browser NAME      用专为本次捕捉设置的临时配置启动 chromium 或 firefox\n"
     "                      （它自己的证书库信任根证书，不改动你的任何证书库）；\n"
     "                      隐含 --https decrypt；关闭浏览器时停止捕捉，\n"
     "                      浏览器启动后立即退出则失败\n"
     "  --install-ca        在浏览器的证书库中信任 Tidewell 的根证书\n"
     "                      （先列出证书库并询问；--yes 不询问）\n"
     "  --remove-ca         把每个证书库恢复成 --install-ca 之前的样子\n"
     "  --export-ca FILE    把根证书（PEM）写入 FILE（- 表示标准输出）\n"
     "  --har FILE          把缓存文件夹中的每个捕捉记录写成 HAR 1.2 文件 FILE\n"
     "                      （只有你能读取；- 表示标准输出），然后退出；它只读取\n"
     "                      文件夹，所以可以在捕捉或桌面程序运行时、在只读磁盘上使用\n"
     "  --streams           列出缓存文件夹中捕捉记录里的视频和音频流（HLS、DASH），\n"
     "                      每个一行，带编号\n"
     "  --save-stream ID FILE  不重新编码，把编号为 ID 的流保存为一个可播放的文件：\n"
     "                      MP4；FILE 以 .ts 或 .mkv 结尾时为 MPEG-TS 或 Matroska\n"
     "  --variant N         要保存的清晰度（按 --streams 的编号；默认为捕捉到片段\n"
     "                      最多的那个）\n"
     "  --lang en|zh        用英文或中文输出，不论系统的语言\n"
     "  --help              显示本说明\n"
     "  --version           显示版本\n"
     "\n"
     "退出状态：0 表示每个捕捉记录都已保存（或导出）；1 表示无法开始捕捉或导出\n"
     "（例如另一个进程正在写缓存文件夹、文件夹无法使用，或浏览器启动后立即退出）；\n"
     "2 表示用法错误（未知的选项、选项缺少值或值不对）；3 表示有捕捉记录未能保存\n"
     "（--har：有缓存文件无法读取）。--save-stream：0 表示完整保存；3 表示已保存但缺少\n"
     "片段（在标准错误中列出）；1 表示未保存。\n"
     "\n"
     "代理只为你自己的程序服务：其他用户的程序会收到 403 Forbidden。\n"
     "无法到达的服务器也是一个捕捉记录，标为失败并写明原因；客户端收到一个写明\n"
     "主机和原因的 502 页面（等待超时时为 504）。请求头须在 30 秒内收完，空闲的\n"
     "客户端连接 60 秒后关闭。\n",
     "Usage: tidewell-capture [--port N] [--no-system-proxy] [--https decrypt|tunnel]\n"
     "                        [--pass-through HOSTS] [--browser chromium|firefox]\n"
     "       tidewell-capture --install-ca [--yes] | --remove-ca | --export-ca FILE\n"
     "       tidewell-capture --har FILE|-\n"
     "       tidewell-capture --streams | --save-stream ID FILE [--variant N]\n"
     "       tidewell-capture --help | --version\n"
     "\n"
     "Runs the capturing proxy until interrupted (Ctrl+C or SIGTERM), then keeps\n"
     "every capture in the cache folder for the desktop program.\n"
     "\n"
     "  --port N            first port to try (default 2861; the next free one is used;\n"
     "                      0 takes any free port)\n"
     "  --no-system-proxy   leave the system proxy settings alone\n"
     "  --https MODE        decrypt: capture HTTPS by decrypting it with Tidewell's root\n"
     "                      certificate; tunnel (default): relay it unread\n"
     "  --pass-through HOSTS  hosts never decrypted, comma-separated, * and ? as wildcards\n"
     "                      (added to the list the desktop program keeps)\n"
     "  --browser NAME      start chromium or firefox with a temporary profile set up for\n"
     "                      this capture (its own certificate database trusts the root;\n"
     "                      none of yours is touched); implies --https decrypt; capturing\n"
     "                      stops when it is closed, and fails when it quits at once\n"
     "  --install-ca        trust Tidewell's root certificate in your browsers' certificate\n"
     "                      databases (lists them and asks first; --yes does not ask)\n"
     "  --remove-ca         give every database back as --install-ca found it\n"
     "  --export-ca FILE    write the root certificate (PEM) to FILE (- for standard output)\n"
     "  --har FILE          write every capture kept in the cache folder to FILE as a\n"
     "                      HAR 1.2 log (readable by you alone; - for standard output)\n"
     "                      and exit; it only reads the folder, so it works beside a\n"
     "                      running capture or desktop program and on a read-only disk\n"
     "  --streams           list the video and audio streams (HLS, DASH) of the captures\n"
     "                      kept in the cache folder, one line each, with its id\n"
     "  --save-stream ID FILE  save stream ID as one playable file, without re-encoding:\n"
     "                      MP4, or MPEG-TS or Matroska when FILE ends in .ts or .mkv\n"
     "  --variant N         the variant to save (as numbered by --streams; default: the\n"
     "                      one with most segments captured)\n"
     "  --lang en|zh        print in English or in Chinese, whatever the locale\n"
     "  --help              show this text\n"
     "  --version           show the version\n"
     "\n"
     "Exit status: 0 when every capture was kept (or exported), 1 when capturing or\n"
     "the export could not start (another process captures into the cache folder,\n"
     "the folder cannot be used, or the browser quit at once, for three),\n"
     "2 for a usage error (an unknown option, an option without its value or with a\n"
     "wrong one), 3 when some captures could not be stored (or, with --har, some\n"
     "cache files could not be read). --save-stream: 0 saved whole, 3 saved with\n"
     "segments missing (named on standard error), 1 not saved.\n"
     "\n"
     "The proxy serves your own programs only: another user's get 403 Forbidden.\n"
     "A server that cannot be reached is a capture too, failed with the reason; the\n"
     "client gets a 502 page naming the host and the reason (504 when a wait ran out).\n"
     "A request head must arrive within 30 s; an idle client connection is closed\n"
     "after 60 s.\n"},
    {1202, "%zu 个资源已从 %s 写入 %s", "Wrote %zu exchanges from %s to %s"},
    {1203, "有 %zu 个捕捉记录无法读取，已略去", "%zu captures could not be read and were left out"},
    {1204, "无法写入 %s：%s", "cannot write %s: %s"},
    {1205, "正在通过 http://%s:%d/ 捕捉%s。按 Ctrl+C 停止。",
     "Capturing through http://%s:%d/%s. Stop with Ctrl+C."},
    {1206, "（系统代理已指向这里：%s 设置）", " (system proxy redirected: %s settings)"},
    {1207,
     "这个桌面没有 Tidewell 能更改的代理设置：请手动把程序的 HTTP 和 HTTPS 代理设为 "
     "http://%s:%d/。",
     "This desktop has no proxy settings Tidewell can change: set the HTTP and HTTPS proxy of "
     "your programs to http://%s:%d/ by hand."},
    {1208, "已捕捉 %zu 个资源，响应数据 %s", "%zu exchanges captured, %s of response bodies"},
    {1209, "，%zu 个加载中", ", %zu loading"},
    {1210, "，%zu 个未能保存", ", %zu not stored"},
    {1211, "已停止。%s；%zu 个保存在 %s", "Stopped. %s; %zu kept in %s"},
    {1212, "；%zu 个未能保存：%s", "; %zu could not be stored: %s"},
    {1213, "正在用根证书 %s（SHA-256 %s）解密 HTTPS。",
     "Decrypting HTTPS with the root certificate %s (SHA-256 %s)."},
    {1214, "已用临时配置启动 %s；关闭它时停止捕捉。",
     "Started %s with a temporary profile; capturing stops when it is closed."},
    {1215, "已恢复上次运行遗留下、仍指向其代理的代理设置",
     "gave back the proxy settings an earlier run left pointing at its listener"},
    {1216, "根证书：%s", "root certificate: %s"},
    {1217, "--har 不能和其他选项一起使用", "--har takes no other option"},
    {1218, "--https 只接受 decrypt 或 tunnel：%s", "--https takes decrypt or tunnel: %s"},
    {1219, "--browser 只接受 chromium 或 firefox：%s", "--browser takes chromium or firefox: %s"},
    {1220, "不是端口号：%s", "not a port number: %s"},
    {1221, "未知的参数：%s", "unknown argument: %s"},
    {1222, "%s 中的根证书：%s", "root certificate in %s: %s"},
    {1223, "以下证书库未作改动：", "Left as they are:"},
    {1224, "根证书\n  %s\n  SHA-256 %s\n将在以下证书库中被信任（用于网站）：",
     "The root certificate\n  %s\n  SHA-256 %s\nwill be trusted for websites in:"},
    {1225, "%s 配置“%s”", "%s profile \"%s\""},
    {1226, "（新建证书库）", " (new database)"},
    {1227, "正在运行的浏览器重新启动后才能看到。以后可用 `tidewell-capture --remove-ca` 撤销。",
     "Browsers that are running see it once restarted. `tidewell-capture --remove-ca` takes it "
     "away again."},
    {1228, "是否继续？[y/N] ", "Proceed? [y/N] "},
    {1229, "没有作任何改动。", "Nothing was changed."},
    {1230, "已安装到：", "Installed in:"},
    {1231, "有的证书库未能更改：", "Not every database could be changed:"},
    {1232, "没有哪个证书库含有由 Tidewell 添加的根证书。",
     "No certificate database holds a root certificate added by Tidewell."},
    {1233, "已从以下证书库中移除：", "Removed from:"},
    {1234, "根证书已写入 %s（SHA-256 %s）", "Root certificate written to %s (SHA-256 %s)"},
    {1235, "不是媒体流编号：%s", "not a stream id: %s"},
    {1236, "不是清晰度编号：%s", "not a variant number: %s"},
    {1237, "--streams 和 --save-stream 不能和其他选项一起使用",
     "--streams and --save-stream take no other option"},
    {1238, "--variant 只能和 --save-stream 一起使用", "--variant goes with --save-stream"},
    {1239, "已保存 %s（%s%s%s）。", "Saved %s (%s%s%s)."},
    {1240, "缓存文件夹中没有媒体流", "no streams in the cache folder"},
    {1241, "正在保存：%d%%（%s / %s）", "Saving: %d%% (%s of %s)"},
    // Context menu items (menu id times 100 plus place).
    {31301, "复制地址", "Copy address"},
    {31302, "导出", "Export"},
    {31303, "复制为curl命令", "Copy as curl command"},
    {31304, "导出为HAR", "Export as HAR"},
    {31501, "导出目录", "Export folder"},
    {31503, "全部展开", "Expand all"},
    {31504, "全部折叠", "Collapse all"},
    {31601, "复制字段值(&C)", "&Copy field value"},
    {31602, "复制头(&A)", "Copy &head"},
    {31801, "导出", "Export"},
    {31802, "合并导出", "Export merged"},
    {31803, "导出为HAR", "Export as HAR"},
    // Ribbon command descriptions: description, line feed, tooltip.
    {32771, "开始捕捉\n开始", "Start capturing\nStart"},
    {32772, "停止捕捉\n停止", "Stop capturing\nStop"},
    {32781, "将勾选资源保存为本地文件\n导出", "Save the checked resources as files\nExport"},
    {32786, "删除所有捕捉的资源\n清空", "Delete every captured resource\nClear"},
    {32788, "显示在线帮助\n在线帮助", "Show the online help\nOnline help"},
    {32796, "选择资源列表的排列方式\n列表", "Choose how the resource list is arranged\nList"},
    {32797, "将勾选资源合并保存为单一文件\n合并导出",
     "Save the checked resources merged into one file\nExport merged"},
    {32801, "显示或隐藏窗口\n窗口", "Show or hide windows\nWindows"},
    {32802, "显示或隐藏请求头窗口\n请求头窗口",
     "Show or hide the request head window\nRequest head window"},
    {32803, "显示或隐藏请求数据窗口\n请求数据窗口",
     "Show or hide the request body window\nRequest body window"},
    {32804, "显示或隐藏响应头窗口\n响应头窗口",
     "Show or hide the response head window\nResponse head window"},
    {32805, "显示或隐藏响应数据窗口\n响应数据窗口",
     "Show or hide the response body window\nResponse body window"},
    {32806, "显示或隐藏预览窗口\n预览窗口", "Show or hide the preview window\nPreview window"},
    {32807, "显示或隐藏地址参数窗口\n地址参数窗口",
     "Show or hide the query parameters window\nQuery parameters window"},
    {32818, "检查程序是否有更新\n检查更新", "Check for a newer version\nCheck for updates"},
    {32825, "捕捉选项\n选项", "Capture options\nOptions"},
    {32840, "将勾选的资源导出为HAR文件，没有勾选时导出全部资源\n导出HAR",
     "Export the checked resources as a HAR file, or every resource when none is checked\n"
     "Export HAR"},
};

} // namespace

std::span<const StringEntry> stringTable() {
    return kStrings;
}

const char* loadString(unsigned id, Language language) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const StringEntry& e, unsigned v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id)
        return nullptr;
    // A text still waiting for its English shows in Chinese rather than not at all.
    return language == Language::English && it->english ? it->english : it->text;
}

const char* loadString(unsigned id) {
    return loadString(id, currentLanguage());
}

std::string formatString(unsigned id, ...) {
    const char* format = loadString(id);
    if (!format)
        return {};
    std::va_list arguments;
    va_start(arguments, id);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text;
    if (length > 0) {
        text.resize(std::size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(std::size_t(length));
    }
    va_end(again);
    return text;
}
