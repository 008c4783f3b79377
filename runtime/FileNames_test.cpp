#include "runtime/FileNames.h"

#include <gtest/gtest.h>

namespace {

TEST(FileNames, PartsOfAPath) {
    EXPECT_EQ(ExtractFileName("/usr/bin/kurs"), "kurs");
    EXPECT_EQ(ExtractFileName("C:\\Prog\\kurs.exe"), "kurs.exe");
    EXPECT_EQ(ExtractFilePath("/usr/bin/kurs"), "/usr/bin/");
    EXPECT_EQ(ExtractFileExt("a/b.c/d"), "");
    EXPECT_EQ(ExtractFileExt("kurs.exe"), ".exe");
    EXPECT_EQ(ChangeFileExt("dir/kurs.exe", ".ini"), "dir/kurs.ini");
    EXPECT_EQ(ChangeFileExt("dir.x/kurs", ".ini"), "dir.x/kurs.ini");
}

}  // namespace
