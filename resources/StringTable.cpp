#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {

#ifndef TIDEWELL_VENDOR_HOST
#define TIDEWELL_VENDOR_HOST "tidewell.merovex.com"
#endif
// The web addresses are complete "http://" addresses on the vendor's site.
#define TIDEWELL_VENDOR_URL "http://" TIDEWELL_VENDOR_HOST

struct Entry {
    unsigned id;
    const char* text;
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {100, "OLE初始化失败。"},
    {101, "套接字初始化失败。"},
    {102, "发生一未知错误，代码为%08x。"},
    {105, "数据不完整。"},
    {107, "空闲"},
    {108, "HTTP代理建立在IP:%s,端口:%d。"},
    {115, "主机地址无法识别。"},
    {121, "确定要清除所有资源？"},
    {136, "资源没有准备好。"},
    {137, "无法预览该图片"},
    {138, "不支持预览该类型资源"},
    {139, "无数据"},
    {140, "资源没有准备好"},
    {141, "无法创建预览文件"},
    {142, "<span bold=\"true\" color=\"gray\">%s"},
    {143, "<span bold=\"true\">尺寸: <span bold=\"false\">%dX%d<br><span bold=\"true\">页数: <span bold=\"false\">%d"},
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
    {164, "退出之前是否保存捕捉记录?"},
    {165, "没有响应数据。"},
    {168, "因为程序之前异常退出，如果您因为代理错误而无法访问网络，请点‘是’，那样将恢复您之前的代理"
          "设置。"},
    {169, "关于Tidewell"},
    {170, TIDEWELL_VENDOR_URL "/help.php?p=tidewell&v=%s&l=zh-CN"},
    {171, TIDEWELL_VENDOR_URL "/check_update.php?p=tidewell&v=%s&l=zh-CN&u=%s"},
    {172, "程序有更新，是否要查看该更新？"},
    {173, TIDEWELL_VENDOR_URL "/uninstall.php?p=tidewell&v=%s&l=zh-CN&u=%s"},
    {174, TIDEWELL_VENDOR_URL "/feedback.php?p=tidewell&v=%s&l=zh-CN"},
    {175, TIDEWELL_VENDOR_URL "/third_party.php?p=tidewell&v=%s&l=zh-CN"},
    {176, TIDEWELL_VENDOR_URL "/index.php?p=tidewell&v=%s&l=zh-CN"},
    {400, "报文头过长。"},
    {420, "找不到空闲的端口来建立HTTP代理。"},
};

} // namespace

const char* loadString(unsigned id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, unsigned v) { return e.id < v; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}
