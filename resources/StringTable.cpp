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
    {115, "主机地址无法识别。"},
    {136, "资源没有准备好。"},
    {144, "编码方式不支持"},
    {145, "错误的块编码"},
    {165, "没有响应数据。"},
    {400, "报文头过长。"},
};

} // namespace

const char* loadString(unsigned id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, unsigned v) { return e.id < v; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}
