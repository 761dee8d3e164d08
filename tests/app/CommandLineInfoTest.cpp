// SPDX-License-Identifier: GPL-3.0-or-later
// --help and --version: answered on the terminal without a display and without touching the
// settings; every other command line is left to the window.
#include "app/CommandLineInfo.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace postlark {
namespace {

std::optional<int> Answer(std::vector<const char*> words, std::string& printed) {
    words.insert(words.begin(), "postlark");
    std::ostringstream out;
    const auto status = AnswerInfoSwitch(int(words.size()), words.data(), out);
    printed = out.str();
    return status;
}

TEST(CommandLineInfo, OnlyALoneSwitchIsAnswered) {
    std::string printed;
    EXPECT_EQ(Answer({"--version"}, printed), 0);
    EXPECT_EQ(printed, "Postlark " POSTLARK_VERSION "\n");
    EXPECT_EQ(Answer({"--help"}, printed), 0);
    EXPECT_NE(printed.find("/registrystart"), std::string::npos);
    EXPECT_NE(printed.find("FILE.pls"), std::string::npos);
    EXPECT_NE(printed.find("POP3 and IMAP"), std::string::npos);

    // Everything else keeps its meaning for the window: the start-up switch, a backup file
    // (even one named like a switch), extra words, other spellings.
    for (const std::vector<const char*>& words : {std::vector<const char*>{},
                                                  {"/registrystart"},
                                                  {"--help.pls"},
                                                  {"--version", "x.pls"},
                                                  {"my", "--help"},
                                                  {"-h"},
                                                  {"--Version"},
                                                  {"--help="}}) {
        EXPECT_EQ(Answer(words, printed), std::nullopt) << (words.empty() ? "" : words[0]);
        EXPECT_EQ(printed, "");
    }
}

TEST(CommandLineInfo, AnswerThatCannotBeWrittenIsAFailure) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    const char* words[] = {"postlark", "--version"};
    EXPECT_EQ(AnswerInfoSwitch(2, words, out), 1);
}

// The real program, with no display at all: a window or a settings read would fail or leave
// files behind.
TEST(CommandLineInfo, ProgramAnswersWithoutDisplayOrSettings) {
    test::TestEnvironment env;
    for (const QString& word : {QString("--version"), QString("--help")}) {
        QProcess program;
        QProcessEnvironment vars = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            vars.remove(name);
        program.setProcessEnvironment(vars);
        program.start(POSTLARK_BINARY, {word});
        ASSERT_TRUE(program.waitForFinished(10000)) << word.toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << word.toStdString();
        EXPECT_EQ(program.readAllStandardError(), "") << word.toStdString();
        const QByteArray out = program.readAllStandardOutput();
        if (word == "--version")
            EXPECT_EQ(out, "Postlark " POSTLARK_VERSION "\n");
        else
            EXPECT_TRUE(out.startsWith("Usage: postlark")) << out.toStdString();
    }
    // Neither the settings folder nor the single-instance lock was created.
    EXPECT_TRUE(QDir(env.configHome()).isEmpty());
    EXPECT_TRUE(QDir(env.runtimeDir()).isEmpty());
}

} // namespace
} // namespace postlark
