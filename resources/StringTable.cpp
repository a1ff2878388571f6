#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {

#ifndef TIDEWELL_VENDOR_HOST
#define TIDEWELL_VENDOR_HOST "tidewell.merovex.com"
#endif
// The web addresses are complete "http://" addresses on the vendor's site.
#define TIDEWELL_VENDOR_URL "http://" TIDEWELL_VENDOR_HOST

// Sorted by id.
constexpr StringEntry kStrings[] = {
    {100, "OLE初始化失败。"},
    {101, "套接字初始化失败。"},
    {102, "发生一未知错误，代码为%08x。"},
    {105, "数据不完整。"},
    {107, "空闲"},
    {108, "HTTP代理建立在IP:%s,端口:%d。"},
    {109, "资源名"},
    {110, "类型"},
    {111, "大小"},
    {112, "状态"},
    {113, "位置"},
    {115, "主机地址无法识别。"},
    {117, "序号"},
    {118, "引用"},
    {119, "完成"},
    {120, "加载中..."},
    {121, "确定要清除所有资源？"},
    {122, "请求头"},
    {123, "请求数据"},
    {124, "响应头"},
    {125, "响应数据"},
    {126, "预览"},
    {127, "字段"},
    {128, "Tidewell\nTidewell\n\n\n\nTidewell.Document\nTidewell.Document"},
    {129, "值"},
    {130, "请求"},
    {132, "响应"},
    {133, "无请求数据"},
    {134, "无响应数据"},
    {135, "数据加载失败"},
    {136, "资源没有准备好。"},
    {137, "无法预览该图片"},
    {138, "不支持预览该类型资源"},
    {139, "无数据"},
    {140, "资源没有准备好"},
    {141, "无法创建预览文件"},
    {142, "<span bold=\"true\" color=\"gray\">%s"},
    {143, "<span bold=\"true\">尺寸: <span bold=\"false\">%dX%d<br>"
          "<span bold=\"true\">页数: <span bold=\"false\">%d"},
    {144, "编码方式不支持"},
    {145, "错误的块编码"},
    {146, "应用"},
    {147, "音频"},
    {148, "图像"},
    {149, "消息"},
    {150, "模型"},
    {151, "复合"},
    {152, "文本"},
    {153, "视频"},
    {154, "其它"},
    {163, "地址参数"},
    {164, "退出之前是否保存捕捉记录?"},
    {165, "没有响应数据。"},
    {166, "资源'%s'编码方式不支持，是否不解码直接导出？"},
    {167, "资源'%s'导出失败：%s是否继续导出其它资源？"},
    {168,
     "因为程序之前异常退出，如果您因为代理错误而无法访问网络，请点‘是’，那样将恢复您之前的代理设"
     "置。"},
    {169, "关于Tidewell"},
    {170, TIDEWELL_VENDOR_URL "/help.php?p=tidewell&v=%s&l=zh-CN"},
    {171, TIDEWELL_VENDOR_URL "/check_update.php?p=tidewell&v=%s&l=zh-CN&u=%s"},
    {172, "程序有更新，是否要查看该更新？"},
    {173, TIDEWELL_VENDOR_URL "/uninstall.php?p=tidewell&v=%s&l=zh-CN&u=%s"},
    {174, TIDEWELL_VENDOR_URL "/feedback.php?p=tidewell&v=%s&l=zh-CN"},
    {175, TIDEWELL_VENDOR_URL "/third_party.php?p=tidewell&v=%s&l=zh-CN"},
    {176, TIDEWELL_VENDOR_URL "/index.php?p=tidewell&v=%s&l=zh-CN"},
    // Our own error codes (0xE0000000 | id).
    {400, "报文头过长。"},
    {420, "找不到空闲的端口来建立HTTP代理。"},
    // The cache folder and what happens to captures on their way to it.
    {460, "缓存文件夹正被另一个进程使用。"},
    {461, "缓存文件夹“%s”正被另一个进程（进程号%d）使用，不能同时在此捕捉。"},
    {462, "缓存文件夹“%s”正被另一个进程使用，不能同时在此捕捉。"},
    {463, "捕捉中断。"},
    {464, "捕捉的数据无法保存到缓存文件夹：%s"},
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
    {480, "这个请求的目标是Tidewell代理本身，为避免无限循环，没有转发。"},
    {481, "已连接"},
    {482, "客户端关闭"},
    {483, "服务器关闭"},
    {484, "停止捕捉时断开"},
    {485, "隧道"},
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
    {510, "隧道记录没有可以重新发送的请求。"},
    {511, "有%d个请求头含有命令行无法表示的字节，已略去。"},
    {512, "有%d个资源的记录无法读取，没有写入HAR文件。"},
    {513, "捕捉记录.har"},
    // The origin's side of an exchange.
    {521, "服务器在请求体发送完之前已经应答。",
     "The server answered before the request body was sent."},
    // HTTPS decryption: error codes.
    {601, "客户端不信任根证书"},
    {602, "服务器证书不受信任。"},
    {603, "服务器证书已过期或尚未生效。"},
    {604, "服务器证书与主机名不符。"},
    {605, "服务器证书无效。"},
    {606, "与服务器的TLS握手失败。"},
    {607, "与客户端的TLS握手失败。"},
    {608, "根证书无法读取或已损坏。"},
    {609, "无法为该主机名签发证书。"},
    {610, "证书库操作失败（certutil）。"},
    {611, "没有找到该浏览器。"},
    {612, "上游代理拒绝建立隧道。"},
    {613, "客户端不接受 HTTP/1.1（它只提供 HTTP/2 等协议），Tidewell 只支持 HTTP/1.1。",
     "The client does not accept HTTP/1.1 (it offers only HTTP/2 or other protocols); Tidewell "
     "speaks HTTP/1.1 only."},
    // HTTPS decryption: questions, messages and menu entries.
    {620, "解密 HTTPS 需要浏览器信任 Tidewell 的根证书。\n\n"
          "最快的办法是打开一个专为本次捕捉设置的浏览器：它使用临时配置并信任根证书，"
          "不改动任何证书库，关闭后临时配置即被删除。\n\n现在打开浏览器吗？"},
    {621, "将在以下证书库中信任 Tidewell 的根证书（用于网站）：\n\n%s\n"
          "证书：%s\nSHA-256：%s\n\n"
          "正在运行的浏览器重新启动后才能看到。以后可用“移除根证书”撤销。是否继续？"},
    {622, "浏览器的证书库都已信任根证书，或者没有可更改的证书库。"},
    {623, "已在以下证书库中信任根证书：\n\n%s"},
    {624, "以下证书库未能更改：\n\n%s"},
    {625, "没有由 Tidewell 添加的根证书。"},
    {626, "已从以下证书库中移除根证书：\n\n%s"},
    {627, "每行一个主机名，可使用通配符 * 和 ?（例如 *.bank.example）。\n"
          "这些主机的 HTTPS 只转发、不解密，适用于固定证书的程序。"},
    {628, "不解密的主机"},
    {629, "用哪个浏览器捕捉？"},
    {630, "Chromium：%s"},
    {631, "Firefox 配置“%s”：%s"},
    {632, "（新建证书库）"},
    {633, "PEM 证书 (*.pem *.crt)"},
    {634, "Tidewell 无法安全地连接到 %s：%s（%s）\n"},
    {635, "Firefox 配置“%s”的路径 %s 指向 Firefox 文件夹以外，已跳过。",
     "Firefox profile \"%s\": its path %s leads outside the Firefox folder; skipped."},
    {636, "%s 已有根证书（名称为“%s”），未作改动。",
     "%s already holds the root certificate (named \"%s\"); left as it is."},
    {637, "%s 无法读取，未作改动。", "%s could not be read; left as it is."},
    {638, "%s 是 Tidewell 新建的证书库，但其中已有别的证书或密钥，已保留。",
     "%s was made by Tidewell but now holds other certificates or keys; kept."},
    {639, "以下证书库未作改动：\n\n%s", "Left as they are:\n\n%s"},
    {640, "解密 HTTPS"},
    {641, "打开浏览器"},
    {642, "不解密的主机…"},
    {643, "安装根证书…"},
    {644, "移除根证书"},
    {645, "导出根证书…"},
    {646, "%s 启动后立即退出了（退出状态 %d）。",
     "%s quit right after it started (exit status %d)."},
    {647, "%s 无法运行（退出状态 %d）。", "%s could not be run (exit status %d)."},
    {648, "以 root 身份运行时，Chromium 不加 --no-sandbox 就不会启动。",
     "Chromium does not start as root without --no-sandbox."},
    // The resource browser's filter and preview notes.
    {700, "内容超过 2 MiB，预览只显示了前 2 MiB。"},
    {701, "筛选地址，也可用 type:image  status:4xx  method:POST  host:example.com  (Ctrl+F)"},
    {702, "显示 %d / %d"},
    {703, "状态码“%s”无法识别，可写作 404、4xx 或 4"},
    {704, "没有符合筛选条件的资源"},
    // Usage errors of the command-line program.
    {750, "%s 需要一个值", "%s needs a value"},
    {751, "未知的参数：%s", "unknown argument: %s"},
    {752, "用 tidewell-capture --help 查看所有选项。",
     "See tidewell-capture --help for the options."},
    // Files and folders that cannot be used, named.
    {770, "无法创建文件夹“%s”：%s", "Cannot create the folder \"%s\": %s"},
    {771, "无法写入文件“%s”：%s", "Cannot write the file \"%s\": %s"},
    {772, "文件夹“%s”无法使用：%s", "The folder \"%s\" cannot be used: %s"},
    {773, "根证书文件夹“%s”：%s", "Root certificate folder \"%s\": %s"},
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
    // Context menu items (menu id times 100 plus place).
    {31303, "复制为curl命令"},
    {31304, "导出为HAR"},
    {31601, "复制字段值(&C)"},
    {31602, "复制头(&A)"},
    {31803, "导出为HAR"},
    // Ribbon command descriptions: description, line feed, tooltip.
    {32771, "开始捕捉\n开始"},
    {32772, "停止捕捉\n停止"},
    {32781, "将勾选资源保存为本地文件\n导出"},
    {32786, "删除所有捕捉的资源\n清空"},
    {32788, "显示在线帮助\n在线帮助"},
    {32796, "选择资源列表的排列方式\n列表"},
    {32797, "将勾选资源合并保存为单一文件\n合并导出"},
    {32801, "显示或隐藏窗口\n窗口"},
    {32802, "显示或隐藏请求头窗口\n请求头窗口"},
    {32803, "显示或隐藏请求数据窗口\n请求数据窗口"},
    {32804, "显示或隐藏响应头窗口\n响应头窗口"},
    {32805, "显示或隐藏响应数据窗口\n响应数据窗口"},
    {32806, "显示或隐藏预览窗口\n预览窗口"},
    {32807, "显示或隐藏地址参数窗口\n地址参数窗口"},
    {32818, "检查程序是否有更新\n检查更新"},
    {32825, "捕捉选项\n选项"},
    {32840, "将勾选的资源导出为HAR文件，没有勾选时导出全部资源\n导出HAR"},
};

} // namespace

std::span<const StringEntry> stringTable() {
    return kStrings;
}

const char* loadString(unsigned id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const StringEntry& e, unsigned v) { return e.id < v; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}
