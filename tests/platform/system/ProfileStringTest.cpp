// SPDX-License-Identifier: GPL-3.0-or-later
// The profile-file engine against the rules of initialization files: where a write puts its
// line and what it leaves alone, what a read returns and counts, and what it refuses.
#include "platform/system/ProfileString.h"
#include "platform/base/LastError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace postlark::win {
namespace {

class ProfileStringTest : public ::testing::Test {
protected:
    std::string Path(const char* name = "test.ini") const {
        return (dir_.path() + "/" + name).toStdString();
    }
    void Put(const std::string& text, const char* name = "test.ini") const {
        QFile file(QString::fromStdString(Path(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), qint64(text.size()));
    }
    std::string Contents(const char* name = "test.ini") const {
        QFile file(QString::fromStdString(Path(name)));
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll().toStdString();
    }
    bool Write(const char* section, const char* key, const char* value,
               const char* name = "test.ini") const {
        return WritePrivateProfileStringA(section, key, value, Path(name).c_str()) != 0;
    }
    // The text placed and the count returned, with a buffer of `size` bytes.
    std::pair<std::string, DWORD> Get(const char* section, const char* key,
                                      const char* defaultValue, DWORD size = 256,
                                      const char* name = "test.ini") const {
        std::vector<char> buffer(size + 1, '#');
        const DWORD got = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size,
                                                   Path(name).c_str());
        // The text is always ended, within the buffer.
        EXPECT_TRUE(size == 0 || buffer[got] == '\0');
        EXPECT_EQ(buffer[size], '#');
        return {std::string(buffer.data(), size == 0 ? 0 : got), got};
    }
    mode_t Mode(const char* name = "test.ini") const {
        struct stat info {};
        ::stat(Path(name).c_str(), &info);
        return info.st_mode & 07777;
    }

    QTemporaryDir dir_;
};

TEST_F(ProfileStringTest, FreshFileGetsEntriesInWriteOrderWithCrLfAndOwnerOnlyMode) {
    ASSERT_TRUE(Write("Postlark", "EmailAddress0", "a@example.org"));
    ASSERT_TRUE(Write("Postlark", "POP0", "pop.example.org"));
    ASSERT_TRUE(Write("Other", "Key", "1"));
    ASSERT_TRUE(Write("Postlark", "NumAccts", "1")); // at the end of its section
    EXPECT_EQ(Contents(), "[Postlark]\r\nEmailAddress0=a@example.org\r\nPOP0=pop.example.org\r\n"
                          "NumAccts=1\r\n\r\n[Other]\r\nKey=1\r\n");
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_EQ(Get("Postlark", "POP0", "x"), std::make_pair(std::string("pop.example.org"), 15u));
}

TEST_F(ProfileStringTest, WritesTouchOnlyTheirOwnLineAndMatchNamesInAnyCase) {
    const std::string before = "; backup of my accounts\n"
                               "[POSTLARK]\n"
                               "pop0 = old.example.org\n"
                               "a line without an equals sign\n"
                               "; trailing comment\n"
                               "\n"
                               "[Next]\r\n"
                               "POP0=other section\r\n";
    Put(before);
    ::chmod(Path().c_str(), 0644);
    ASSERT_TRUE(Write("Postlark", "POP0", "new.example.org")); // replaced in place
    ASSERT_TRUE(Write("postlark", "UserName0", "me"));         // added at the end of the section
    EXPECT_EQ(Contents(), "; backup of my accounts\n"
                          "[POSTLARK]\n"
                          "pop0=new.example.org\n"
                          "a line without an equals sign\n"
                          "; trailing comment\n"
                          "UserName0=me\r\n"
                          "\n"
                          "[Next]\r\n"
                          "POP0=other section\r\n");
    EXPECT_EQ(Mode(), 0644u) << "an existing file keeps its mode";
    EXPECT_EQ(Get("Next", "pop0", "").first, "other section");
    EXPECT_EQ(Get("Postlark", "a line without an equals sign", "none").first, "none");

    // Writing the value already there leaves the file as it is.
    const std::string now = Contents();
    ASSERT_TRUE(Write("Postlark", "UserName0", "me"));
    EXPECT_EQ(Contents(), now);
}

TEST_F(ProfileStringTest, ReadsValuesWholeOrCutAndCountsWhatWasPlaced) {
    Put("[S]\nEquals=a=b=c\nPadded =  two words \t\nQuoted=\"  kept  \"\nSingle='x'\n"
        "Half=\"open\nEmpty=\nLong=0123456789\r\n");
    EXPECT_EQ(Get("S", "Equals", ""), std::make_pair(std::string("a=b=c"), 5u));
    EXPECT_EQ(Get("S", "Padded", "").first, "two words");
    EXPECT_EQ(Get("S", "Quoted", "").first, "  kept  ");
    EXPECT_EQ(Get("S", "Single", "").first, "x");
    EXPECT_EQ(Get("S", "Half", "").first, "\"open");
    EXPECT_EQ(Get("S", "Empty", "default"), std::make_pair(std::string(), 0u));
    EXPECT_EQ(Get("S", "Long", "", 5), std::make_pair(std::string("0123"), 4u));
    EXPECT_EQ(Get("S", "Long", "", 11), std::make_pair(std::string("0123456789"), 10u));
    EXPECT_EQ(Get("S", "Long", "", 0).second, 0u);
    // A missing entry, section or file gives the default, without its trailing spaces.
    EXPECT_EQ(Get("S", "Missing", "C:\\x.pls  "), std::make_pair(std::string("C:\\x.pls"), 8u));
    EXPECT_EQ(Get("T", "Long", nullptr), std::make_pair(std::string(), 0u));
    EXPECT_EQ(Get("S", "Long", "gone", 256, "absent.ini").first, "gone");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProfileStringTest, ListsNamesAndDeletesEntriesAndSections) {
    Put("[A]\r\nOne=1\r\nTwo=2\r\n[B]\r\nThree=3\r\n");
    EXPECT_EQ(Get("a", nullptr, ""), std::make_pair(std::string("One\0Two\0", 8), 8u));
    EXPECT_EQ(Get(nullptr, nullptr, ""), std::make_pair(std::string("A\0B\0", 4), 4u));
    // A list cut to the buffer still ends with two '\0'.
    EXPECT_EQ(Get("A", nullptr, "", 6), std::make_pair(std::string("One\0", 4), 4u));

    ASSERT_TRUE(Write("A", "one", nullptr));
    ASSERT_TRUE(Write("A", "Absent", nullptr));
    ASSERT_TRUE(Write("Nowhere", "Absent", nullptr));
    EXPECT_EQ(Contents(), "[A]\r\nTwo=2\r\n[B]\r\nThree=3\r\n");
    ASSERT_TRUE(Write("a", nullptr, nullptr));
    EXPECT_EQ(Contents(), "[B]\r\nThree=3\r\n");
    // Deleting from a file that does not exist creates nothing.
    ASSERT_TRUE(Write("B", "Three", nullptr, "absent.ini"));
    EXPECT_EQ(Contents("absent.ini"), "<missing>");
}

TEST_F(ProfileStringTest, RefusesWhatNoFileCouldHoldAndPathsThatAreNoRegularFile) {
    Put("[S]\r\nKey=1\r\n");
    EXPECT_FALSE(Write("S", "Key", "two\r\nlines"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Write("S", "K=ey", "1"));
    EXPECT_FALSE(Write("S]", "Key", "1"));
    EXPECT_EQ(Contents(), "[S]\r\nKey=1\r\n");
    // Names a read would not find again: lines are read with trimmed names, and a key must
    // not read as a section header or a comment. Each such write used to report success and
    // add another line that no read finds.
    for (const auto& [section, key] :
         std::vector<std::pair<const char*, const char*>>{{"2\x87\xF7 ", ""},
                                                          {" S", "Key"},
                                                          {"S", "Key\t"},
                                                          {"S", " Key"},
                                                          {"S", "[Key"},
                                                          {"S", ";Key"}}) {
        EXPECT_FALSE(Write(section, key, "1")) << section << "|" << key;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(Write(section, key, nullptr));
    }
    EXPECT_FALSE(Write(" S", nullptr, nullptr));
    EXPECT_EQ(Contents(), "[S]\r\nKey=1\r\n");
    EXPECT_TRUE(Write("S", "K[e;y ]", "2")); // inside a name these characters are harmless
    EXPECT_EQ(Get("S", "K[e;y ]", "").first, "2");

    ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.pls"));
    EXPECT_FALSE(Write("S", "Key", "1", "folder.pls"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(QFileInfo(dir_.path() + "/folder.pls").isDir());
    EXPECT_EQ(Get("S", "Key", "default", 256, "folder.pls").first, "default");
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Write("S", "Key", "1", "no/such/folder.ini"));
    // No temporary file is left behind by a failed write.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"folder.pls", "test.ini"}));
}

TEST_F(ProfileStringTest, WritesThroughASymbolicLinkAndKeepsTheLink) {
    Put("[S]\r\n", "real.ini");
    ASSERT_EQ(::symlink("real.ini", Path("link.ini").c_str()), 0);
    ASSERT_TRUE(Write("S", "Key", "1", "link.ini"));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("link.ini"))).isSymLink());
    EXPECT_EQ(Contents("real.ini"), "[S]\r\nKey=1\r\n");
}

TEST_F(ProfileStringTest, TwoMegabyteFileIsReadAndEditedWhole) {
    std::string big = "[Filler]\n";
    for (int i = 0; big.size() < 2 * 1024 * 1024; ++i)
        big += "Entry" + std::to_string(i) + "=" + std::string(60, 'x') + "\n";
    big += "[Postlark]\nNumAccts=3\n";
    Put(big);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(Write("Postlark", "POP0", "pop.example.org"));
    EXPECT_EQ(Get("Postlark", "NumAccts", "").first, "3");
    EXPECT_EQ(Get("Filler", "Entry0", "").first, std::string(60, 'x'));
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(Contents(), big + "POP0=pop.example.org\r\n");
}

// Starting texts for the many-entry edits below: absent and unended sections, comments, blank
// lines before the next section, names in other cases, duplicate names and sections.
const std::vector<std::string> kStarts = {
    "",
    "no line end at all",
    "[Other]\nKeep=1",
    "[S]\nA=old",
    "; notes\n[other]\nKeep=1\n\n[s]\na = old\nB=1\nb=2\n; inside\nC=3\n\n\n[Third]\nA=t",
    "[S]\r\nA=1\r\n[S]\r\nNew=second section\r\n",
    "Loose=before any section\r\n[S]\r\n\r\n[T]\r\nx=1\r\n",
    "[S]\n=empty name\nnot an entry\nA=\"q\"\n",
};

// The many-entry write gives the text of one Write per entry, in order: existing names in any
// case and names repeated within the list update one line, new ones go to the section's end.
TEST(ProfileTextTest, WritingManyEntriesGivesTheTextOfOneWriteEach) {
    const std::vector<ProfileText::KeyValue> entries = {
        {"a", "first"}, {"New", "n1"},   {"b", ""},       {"NEW", "n2"}, {"", "blank name"},
        {"c", " x "},   {"Last", "'q'"}, {"A", "second"}, {"new", "n3"}, {"Extra", "e"}};
    for (const std::string& start : kStarts) {
        for (const char* section : {"S", "s", "Fresh"}) {
            SCOPED_TRACE(start + " | " + section);
            ProfileText oneEach(start);
            for (const auto& [key, value] : entries)
                ASSERT_TRUE(oneEach.Write(section, key, value));
            ProfileText many(start);
            ASSERT_TRUE(many.Write(section, entries));
            EXPECT_EQ(many.Text(), oneEach.Text());
            // What it holds reads as the same text read afresh.
            const ProfileText reread(many.Text());
            for (const auto& [key, value] : entries)
                EXPECT_EQ(many.Value(section, key), reread.Value(section, key)) << key;
        }
    }

    // Anything a single write would refuse refuses the whole list before any change.
    ProfileText text(kStarts[4]);
    for (const std::vector<ProfileText::KeyValue>& refused :
         std::vector<std::vector<ProfileText::KeyValue>>{{{"A", "ok"}, {"B", "two\nlines"}},
                                                         {{"A", "ok"}, {"B=", "1"}},
                                                         {{"A", "ok"}, {nullptr, "1"}},
                                                         {{"A", "ok"}, {"B", nullptr}}}) {
        EXPECT_FALSE(text.Write("s", refused));
        EXPECT_FALSE(text.Write("s]", std::vector<ProfileText::KeyValue>{{"A", "ok"}}));
        EXPECT_EQ(text.Text(), kStarts[4]);
    }
}

// Deleting by name gives the text of listing the section's names and deleting each accepted
// one with its own write, which takes the first remaining entry of that name in any case.
TEST(ProfileTextTest, DeletingEntriesByNameGivesTheTextOfOneDeletionPerListedName) {
    const std::string start = "[S]\nPOP1=a\npop5=b\nKeep=1\nPOP5=c\n; POP5=comment\nPop5=d\n"
                              "EmailAddress9=e\n\n[Other]\nPOP5=other\n[s]\nPOP5=second\n";
    const std::vector<std::pair<const char*, std::function<bool(std::string_view)>>> rules = {
        {"numbered, any case",
         [](std::string_view name) {
             return name.size() > 3 && (name[0] | 0x20) == 'p' && name.substr(3) >= "2";
         }},
        // Accepts only one spelling; each acceptance still deletes the first entry of that
        // name in any case, not the entry with that spelling.
        {"upper case only", [](std::string_view name) { return name == "POP5"; }},
        {"all", [](std::string_view) { return true; }},
        {"none", [](std::string_view) { return false; }}};
    for (const auto& [label, doomed] : rules) {
        for (const char* section : {"s", "Other", "Absent"}) {
            SCOPED_TRACE(std::string(label) + " | " + section);
            ProfileText oneEach(start);
            for (const std::string& name : oneEach.KeyNames(section)) {
                if (doomed(name))
                    oneEach.Write(section, name.c_str(), nullptr);
            }
            ProfileText text(start);
            const std::size_t deleted = text.DeleteEntries(section, doomed);
            EXPECT_EQ(text.Text(), oneEach.Text());
            EXPECT_EQ(deleted,
                      ProfileText(start).KeyNames(section).size() - text.KeyNames(section).size());
        }
    }
}

// A section's entries in file order answer every name as Value does: the first entry of a
// name in any case, quotes and blanks dropped, only the first section of that name.
TEST(ProfileTextTest, EntriesAnswerEveryNameAsValueDoes) {
    const std::vector<std::string> names = {
        "A",  "a",      "B",   "b", "C", "Keep", "x", "New", "", "Loose", "not an entry",
        " A", "Absent", "Last"};
    const auto firstOf = [](const std::vector<ProfileText::NamedValue>& entries,
                            const std::string& name) -> std::optional<std::string> {
        for (const auto& [entryName, value] : entries) {
            if (entryName.size() == name.size() &&
                std::equal(name.begin(), name.end(), entryName.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                }))
                return std::string(value);
        }
        return std::nullopt;
    };
    for (const std::string& start : kStarts) {
        const ProfileText text(start);
        for (const char* section : {"S", "s", "other", "Third", "Absent"}) {
            SCOPED_TRACE(start + " | " + section);
            const auto entries = text.Entries(section);
            for (const std::string& name : names)
                EXPECT_EQ(firstOf(entries, name), text.Value(section, name)) << name;
            EXPECT_EQ(ProfileText::EntriesOf(start, section), entries);
        }
    }
    // Reading the entries straight from the text splits and trims lines as the table does.
    for (const char* start : {"[S]\nA=1\r", "[S\nA=unclosed", " [s] \n A = y \r\n[t]\nB=2",
                              "\r\n[S]\r\r\nA\r=\r1\r\n", "[S]\nA='x'\n[S]\nA=2"})
        EXPECT_EQ(ProfileText::EntriesOf(start, "S"), ProfileText(start).Entries("S")) << start;

    const ProfileText duplicates("[S]\nKey = ' one '\nKEY=two\n[S]\nOnly=second\n");
    const auto entries = duplicates.Entries("s");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], ProfileText::NamedValue("Key", " one "));
    EXPECT_EQ(entries[1], ProfileText::NamedValue("KEY", "two"));
}

} // namespace
} // namespace postlark::win
