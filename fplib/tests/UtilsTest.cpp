#include "Gnutils.h"
#include "MBCollection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

TEST(MBCollection, OneInstanceWhosePoolIsEmptiedByClear) {
    MBCollection *pool = MBCollection::getIncance();
    EXPECT_EQ(pool, MBCollection::getIncance());
    char text[] = "path";
    EXPECT_EQ(text, pool->getMBString(text));
    EXPECT_EQ(text, pool->getUnicodeString(text));
    pool->clear();
    auto *block = static_cast<unsigned char *>(pool->allocateNewItem(4, 8));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(0, block[i]);
    }
    EXPECT_EQ(1u, pool->itemCount());
    pool->clear();
    EXPECT_EQ(0u, pool->itemCount());
}

TEST(Gnutils, ReadFileToBufferGivesLengthPlusOne) {
    const auto path = std::filesystem::temp_directory_path() / "fplib-utils-read.txt";
    { std::ofstream(path, std::ios::binary) << "abc"; }
    char *text = nullptr;
    EXPECT_EQ(4, Gnutils::ReadFileToBuffer(path.c_str(), &text));
    EXPECT_STREQ("abc", text);
    std::free(text);
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    EXPECT_EQ(1, Gnutils::ReadFileToBuffer(path.c_str(), &text));
    EXPECT_STREQ("", text);
    std::free(text);
    std::filesystem::remove(path);

    EXPECT_EQ(-1, Gnutils::ReadFileToBuffer(nullptr, &text));
    EXPECT_EQ(-1, Gnutils::ReadFileToBuffer("", &text));
    EXPECT_EQ(-1, Gnutils::ReadFileToBuffer(path.c_str(), nullptr));
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Gnutils::ReadFileToBuffer("/nonexistent/fplib", &text));
    EXPECT_EQ("Unable to open /nonexistent/fplib", testing::internal::GetCapturedStdout());
}

TEST(Gnutils, AppendKeyValueStaysWithinSize) {
    char buffer[16];
    std::memset(buffer, 'X', sizeof buffer);
    buffer[0] = '\0';
    Gnutils::AppendKeyValueToBuffer(buffer, 12, "k", "v");
    EXPECT_STREQ("k:v\n", buffer);
    Gnutils::AppendKeyValueToBuffer(buffer, 12, "key", "value");
    EXPECT_STREQ("k:v\nkey:valu", buffer);
    EXPECT_EQ('\0', buffer[12]);
    EXPECT_EQ('X', buffer[13]);
}

} // namespace
