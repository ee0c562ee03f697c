// Log file bytes: tabs, CR LF, two-piece lines, indentation, off and before start.
#include <sys/stat.h>

#include "core/core.h"
#include "library/library.h"
#include "core/core_internal.h"
#include "core_test_support.h"

using LogTest = FakePlatformTest;

TEST_F(LogTest, StoresShiftJisWithTabsAndCrLf) {
    ASSERT_EQ(InitLibrary(), 0);
    ResetLogFile();
    FAKE.debugOutput.clear();

    IncreaseLogIndent();
    IncreaseLogIndent();
    EXPECT_EQ(WriteLog("ＣＯＭの初期化... "), -1);
    EXPECT_EQ(WriteLog("成功しました\n"), -1);
    DecreaseLogIndent();
    EXPECT_EQ(WriteLogFormat("値:%d", 42), -1);
    DecreaseLogIndent();
    DecreaseLogIndent();  // already at 0: stays there
    WriteLog("a\nb\n");

    std::string expected = "\t\tＣＯＭの初期化... 成功しました\r\n\t値:42\r\na\r\nb\r\n";
    EXPECT_EQ(ReadLog(), expected);
    // The literal really is Shift-JIS: "成功" is 90 AC 8C F7.
    EXPECT_NE(ReadLog().find("\x90\xAC\x8C\xF7"), std::string::npos);
    // The mirror gets the texts without the tabs.
    EXPECT_EQ(FAKE.debugOutput, "ＣＯＭの初期化... 成功しました\n値:42\na\nb\n");
}

TEST_F(LogTest, FormatKeepsItsLineEndWhenCut) {
    ASSERT_EQ(InitLibrary(), 0);
    ResetLogFile();
    std::string longText(3000, 'x');
    WriteLogFormat("%s", longText.c_str());
    WriteLog("next\n");
    std::string log = ReadLog();
    ASSERT_GT(log.size(), 1000u);
    EXPECT_EQ(log.substr(log.size() - 8), "\r\nnext\r\n");
    EXPECT_EQ(log.size(), 1022u + 2 + 6);  // 1022 characters, CR LF, "next" CR LF

    // A cut never splits a two-byte character: "x" and 600 of them keep 510.
    ResetLogFile();
    std::string wide;
    for (int i = 0; i < 600; i++) wide += "あ";
    WriteLogFormat("x%s", wide.c_str());
    log = ReadLog();
    EXPECT_EQ(log.size(), 1u + 510 * 2 + 2);
    EXPECT_EQ(log.substr(log.size() - 4), "あ\r\n");
}

TEST_F(LogTest, NothingIsWrittenBeforeStartUpOrWithTheLogOff) {
    WriteLog("before start-up\n");
    IncreaseLogIndent();  // no effect before the file was ever opened
    struct stat st;
    EXPECT_NE(stat((dir + "/AppLog.txt").c_str(), &st), 0);
    EXPECT_TRUE(FAKE.debugOutput.empty());

    // An old log is left as it is when the log is off.
    { std::ofstream(dir + "/AppLog.txt") << "old"; }
    SetLogOutputEnabled(0);
    ASSERT_EQ(InitLibrary(), 0);
    WriteLog("dropped\n");
    EndLibrary();
    EXPECT_EQ(ReadLog(), "old");
    EXPECT_TRUE(FAKE.debugOutput.empty());
    SetLogOutputEnabled(1);
}

TEST_F(LogTest, StartUpEmptiesTheOldLog) {
    { std::ofstream(dir + "/AppLog.txt") << "old contents\n"; }
    ASSERT_EQ(InitLibrary(), 0);
    std::string log = ReadLog();
    EXPECT_EQ(log.find("old contents"), std::string::npos);
    EXPECT_EQ(log.rfind("システムの情報を出力します\r\n", 0), 0u);
}

TEST_F(LogTest, StartDirectoryEndingInSeparatorGetsNoSecond) {
    FAKE.currentDirectory = dir + "/";
    ASSERT_EQ(InitLibrary(), 0);
    char path[512];
    ASSERT_EQ(BuildLogPath(path, sizeof path), 0);
    EXPECT_EQ(std::string(path), dir + "/AppLog.txt");
    FAKE.currentDirectory = dir;
}
