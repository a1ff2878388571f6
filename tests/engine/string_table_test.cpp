#include "resources/StringTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(StringTable, IdsAreSortedAndUnique) {
    auto table = stringTable();
    ASSERT_FALSE(table.empty());
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(table[i - 1].id, table[i].id) << "at " << table[i].id;
    for (const auto& e : table) {
        ASSERT_NE(e.text, nullptr);
        EXPECT_EQ(loadString(e.id), e.text) << e.id;
    }
}

TEST(StringTable, LooksUpTexts) {
    struct Case {
        unsigned id;
        const char* text;
    };
    const Case cases[] = {
        {IDS_OLE_INIT_FAILED, "OLE初始化失败。"},
        {IDS_STATE_LOADING, "加载中..."},
        {IDS_CATEGORY_FIRST, "应用"},
        {IDS_CATEGORY_OTHER, "其它"},
        {IDS_RESTORE_PROXY, "因为程序之前异常退出，如果您因为代理错误而无法访问网络，请点‘是’，那"
                            "样将恢复您之前的代理设置。"},
        {IDS_HEAD_TOO_LONG, "报文头过长。"},
        {32807, "显示或隐藏地址参数窗口\n地址参数窗口"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(loadString(c.id), c.text) << c.id;
    for (unsigned missing : {0u, 99u, 103u, 131u, 177u, 399u, 401u, 99999u})
        EXPECT_EQ(loadString(missing), nullptr) << missing;
}

TEST(StringTable, TemplatesFormat) {
    char buf[256];
    std::snprintf(buf, sizeof buf, loadString(IDS_PROXY_STARTED), "127.0.0.1", 2861);
    EXPECT_STREQ(buf, "HTTP代理建立在IP:127.0.0.1,端口:2861。");
    std::snprintf(buf, sizeof buf, loadString(IDS_URL_CHECK_UPDATE), "1.0", "abc");
    std::string url = buf;
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_NE(url.find("/check_update.php?p=tidewell&v=1.0&l=zh-CN&u=abc"), std::string::npos);
}
