#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
    unsigned id;
    const char* text;
};

// Sorted by id.
constexpr Entry kStrings[] = {
    {102, "发生一未知错误，代码为%08x。"},
    {105, "数据不完整。"},
    {107, "空闲"},
    {108, "HTTP代理建立在IP:%s,端口:%d。"},
    {115, "主机地址无法识别。"},
    {121, "确定要清除所有资源？"},
    {136, "资源没有准备好。"},
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
    {400, "报文头过长。"},
};

} // namespace

const char* loadString(unsigned id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, unsigned v) { return e.id < v; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}
