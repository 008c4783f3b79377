#include "runtime/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "runtime/Exceptions.h"
#include "runtime/FileNames.h"
#include "runtime/StringList.h"

namespace {

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/kurs_streams_XXXXXX";
        const char* p = mkdtemp(pattern);
        FPath = p ? p : "/tmp";
    }
    ~TempDir() {
        const String cmd = "rm -rf '" + FPath + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    String File(const String& name) const { return FPath + "/" + name; }

  private:
    String FPath;
};

void ExerciseSeekableStream(TStream& s) {
    EXPECT_EQ(s.Size(), 0);
    s.WriteString("hello world");
    EXPECT_EQ(s.Position(), 11);
    EXPECT_EQ(s.Size(), 11);
    s.SetPosition(6);
    char buf[16] = {};
    EXPECT_EQ(s.Read(buf, 100), 5);
    EXPECT_EQ(String(buf, 5), "world");
    EXPECT_EQ(s.Read(buf, 1), 0);  // at the end
    EXPECT_EQ(s.Seek(-5, soEnd), 6);
    s.WriteString("there!");
    EXPECT_EQ(s.Size(), 12);
    s.SetPosition(0);
    String all(12, '\0');
    s.ReadBuffer(all.data(), 12);
    EXPECT_EQ(all, "hello there!");
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
    EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
    s.SetSize(5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_LE(s.Position(), 5);
    // A position past the end is allowed; writing there fills the gap.
    s.SetPosition(7);
    s.WriteString("x");
    EXPECT_EQ(s.Size(), 8);
}

TEST(Streams, MemoryStream) {
    TMemoryStream m;
    ExerciseSeekableStream(m);
    EXPECT_EQ(String(m.Memory(), 5), "hello");
    EXPECT_EQ(m.Memory()[5], '\0');
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(Streams, StringStream) {
    TStringStream s;
    ExerciseSeekableStream(s);
    TStringStream t("abcdef");
    EXPECT_EQ(t.ReadString(4), "abcd");
    EXPECT_EQ(t.ReadString(4), "ef");
}

TEST(Streams, FileStream) {
    TempDir dir;
    const String name = dir.File("data.bin");
    {
        TFileStream f(name, fmCreate);
        ExerciseSeekableStream(f);
    }
    EXPECT_TRUE(FileExists(name));
    {
        TFileStream f(name, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(f.Size(), 8);
        EXPECT_EQ(f.Write("z", 1), 0);  // read only
        EXPECT_THROW(f.WriteBuffer("z", 1), EWriteError);
    }
    {
        TFileStream f(name, fmOpenReadWrite | fmShareExclusive);
        f.Seek(0, soEnd);
        f.WriteString("END");
    }
    TMemoryStream m;
    m.LoadFromFile(name);
    EXPECT_EQ(m.Size(), 11);
    EXPECT_EQ(String(m.Memory() + 8, 3), "END");
    TFileStream create(name, fmCreate);  // truncates
    EXPECT_EQ(create.Size(), 0);
}

TEST(Streams, OpenAndCreateFailuresNameTheFile) {
    TempDir dir;
    const String missing = dir.File("missing.txt");
    try {
        TFileStream f(missing, fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + missing + "\"", 0), 0u) << e.Message();
    }
    const String noDir = dir.File("no/such/dir.txt");
    try {
        TFileStream f(noDir, fmCreate);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + noDir + "\"", 0), 0u) << e.Message();
    }
    EXPECT_THROW(TFileStream(dir.File(""), fmOpenRead), EFOpenError);  // a directory
    // Both are stream errors, so one handler can catch them.
    EXPECT_THROW(TFileStream(missing, fmOpenWrite), EStreamError);
}

TEST(Streams, CopyFromAndStringLists) {
    TStringStream src("line1\r\nline2\n\rline4");
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(src, 0), 19);
    dst.SetPosition(0);
    TStringList list;
    list.LoadFromStream(dst);
    EXPECT_EQ(list.ToVector(), (std::vector<String>{"line1", "line2", "", "line4"}));
    TStringStream out;
    list.SaveToStream(out);
    EXPECT_EQ(out.DataString(), "line1\r\nline2\r\n\r\nline4\r\n");
}

}  // namespace
