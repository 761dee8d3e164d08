// SPDX-License-Identifier: GPL-3.0-or-later
// `cmake --install` into a temporary prefix: every desktop-integration file lands where a
// desktop looks for it, the files pass their validators and agree on the names they share,
// and the installed program starts from its menu entry's Exec line.
#include "support/ChildExit.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

namespace postlark {
namespace {

const QString AppId = "org.postlark.Postlark";

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

// Runs a program to its end (at most 60 s) with the given environment additions.
Outcome RunProgram(const QString& program, const QStringList& arguments,
                   const std::map<QString, QString>& vars = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : vars)
        env.insert(name, value);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Outcome run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished(1000);
        run.err = program + " did not finish: " + process.errorString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool Have(const QString& program) {
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// The value of one key of a desktop entry's [Desktop Entry] group, as written.
QString DesktopKey(const QString& file, const QString& key) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inGroup = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith('['))
            inGroup = line == "[Desktop Entry]";
        else if (inGroup && line.startsWith(key + "="))
            return line.mid(key.size() + 1);
    }
    return {};
}

// Every text of the named elements (and attribute, when given) in an XML file; `error`
// receives the parser's complaint when the file is not well-formed.
QStringList XmlValues(const QString& file, const QString& element, const QString& attribute,
                      QString* error = nullptr) {
    QFile f(file);
    QStringList values;
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = "cannot open " + file;
        return values;
    }
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != element)
            continue;
        if (attribute.isEmpty())
            values << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        else
            values << xml.attributes().value(attribute).toString();
    }
    if (error && xml.hasError())
        *error = xml.errorString() + " at line " + QString::number(xml.lineNumber());
    return values;
}

class InstallTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const Outcome install =
            RunProgram(CMAKE_COMMAND, {"--install", POSTLARK_BUILD_DIR, "--prefix", prefix()});
        ASSERT_EQ(install.exitCode, 0) << install.err.toStdString() << install.out.toStdString();
    }
    QString prefix() const { return dir_.path() + "/usr"; }
    QString file(const QString& relative) const { return prefix() + "/" + relative; }
    QString desktopFile() const { return file("share/applications/" + AppId + ".desktop"); }
    QString metainfo() const { return file("share/metainfo/" + AppId + ".metainfo.xml"); }
    QString mimeXml() const { return file("share/mime/packages/" + AppId + ".xml"); }

    QTemporaryDir dir_;
};

TEST_F(InstallTree, PutsEveryFileWhereTheDesktopLooks) {
    const QString binary = file("bin/postlark");
    EXPECT_TRUE(QFileInfo(binary).isExecutable()) << binary.toStdString();
    for (const QString& f :
         {desktopFile(), metainfo(), mimeXml(), file("share/man/man1/postlark.1.gz"),
          file("share/icons/hicolor/scalable/apps/" + AppId + ".svg"),
          file("share/doc/postlark/copyright"), file("share/doc/postlark/changelog.gz")})
        EXPECT_GT(QFileInfo(f).size(), 0) << f.toStdString();

    // Each theme size holds a PNG of exactly that size; a theme ignores mislabelled icons.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString png =
            file(QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId));
        QImageReader reader(png);
        EXPECT_EQ(reader.format(), "png") << png.toStdString();
        EXPECT_EQ(reader.size(), QSize(size, size)) << png.toStdString();
    }

    // Nothing is installed that the list above does not know of (a stray file in a package
    // is a lintian complaint and a file no one removes).
    QStringList all;
    QDirIterator it(prefix(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << it.next();
    EXPECT_EQ(all.size(), 8 + 11) << all.join('\n').toStdString();

    // The libraries loaded at first use (network, keyring, sign-in) sit where the program
    // looks for them: in its own folder under the library folder next to bin/.
    for (const QString name :
         {"libpostlark_qtnet.so", "libpostlark_keyring.so", "libpostlark_signin.so"}) {
        const QStringList modules = all.filter("/" + name);
        ASSERT_EQ(modules.size(), 1) << all.join('\n').toStdString();
        const QString relative = QDir(prefix() + "/bin").relativeFilePath(modules.first());
        EXPECT_TRUE(relative.startsWith("../lib") && relative.endsWith("/postlark/" + name))
            << relative.toStdString();
    }

    // The installed copy is the program of this build.
    const Outcome version = RunProgram(binary, {"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, "Postlark " POSTLARK_VERSION "\n");
}

TEST_F(InstallTree, DesktopEntryAndMetainfoPassTheirValidators) {
    for (const char* tool : {"desktop-file-validate", "appstreamcli"})
        if (!Have(tool))
            GTEST_SKIP() << "not installed: " << tool << " (scripts/bootstrap installs it)";

    const Outcome desktop = RunProgram("desktop-file-validate", {desktopFile()});
    EXPECT_EQ(desktop.exitCode, 0);
    EXPECT_EQ(desktop.out + desktop.err, "") << "warnings count as faults";

    const Outcome appstream = RunProgram("appstreamcli", {"validate", "--no-net", metainfo()});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.out.toStdString() << appstream.err.toStdString();
    EXPECT_FALSE(appstream.out.contains("W:")) << appstream.out.toStdString();
}

// The files name each other: the menu entry its icon and file type, the software centre its
// menu entry. A name that differs in one file breaks the link silently.
TEST_F(InstallTree, FilesAgreeOnTheNamesTheyShare) {
    QString error;
    const QStringList types = XmlValues(mimeXml(), "mime-type", "type", &error);
    ASSERT_TRUE(error.isEmpty()) << "MIME XML: " << error.toStdString();
    ASSERT_EQ(types.size(), 1);
    EXPECT_EQ(XmlValues(mimeXml(), "glob", "pattern"), QStringList{"*.pls"});

    EXPECT_EQ(DesktopKey(desktopFile(), "Icon"), AppId);
    EXPECT_EQ(DesktopKey(desktopFile(), "MimeType"), types[0] + ";");
    EXPECT_EQ(DesktopKey(desktopFile(), "Exec"), "postlark %f");

    EXPECT_EQ(XmlValues(metainfo(), "id", {}, &error), QStringList{AppId});
    ASSERT_TRUE(error.isEmpty()) << "metainfo: " << error.toStdString();
    EXPECT_EQ(XmlValues(metainfo(), "launchable", {}), QStringList{AppId + ".desktop"});
    EXPECT_EQ(XmlValues(metainfo(), "binary", {}), QStringList{"postlark"});
    EXPECT_EQ(XmlValues(metainfo(), "mediatype", {}), types);
    EXPECT_EQ(XmlValues(metainfo(), "release", "version").value(0), POSTLARK_VERSION);

    // The shared MIME database accepts the type and maps *.pls to it.
    if (!Have("update-mime-database"))
        GTEST_SKIP() << "not installed: update-mime-database";
    const Outcome update = RunProgram("update-mime-database", {file("share/mime")},
                                      {{"XDG_DATA_DIRS", file("share")}});
    ASSERT_EQ(update.exitCode, 0) << update.err.toStdString();
    EXPECT_EQ(update.err.toStdString(), "");
    QFile globs(file("share/mime/globs"));
    ASSERT_TRUE(globs.open(QIODevice::ReadOnly));
    EXPECT_TRUE(globs.readAll().contains(types[0].toUtf8() + ":*.pls\n"));
}

// The stanzas of a Debian copyright file: field name to value, continuation lines joined with
// "\n" after the first line.
std::vector<std::map<QString, QString>> CopyrightStanzas(const QString& file) {
    QFile f(file);
    std::vector<std::map<QString, QString>> stanzas;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return stanzas;
    bool newStanza = true;
    QString field;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        if (line.trimmed().isEmpty()) {
            newStanza = true;
        } else if (line.startsWith(' ') && !field.isEmpty()) {
            stanzas.back()[field] += "\n" + line.mid(1);
        } else {
            if (newStanza)
                stanzas.emplace_back();
            newStanza = false;
            field = line.section(':', 0, 0);
            stanzas.back()[field] = line.section(':', 1).trimmed();
        }
    }
    return stanzas;
}

// Where the licence is stated, the statements agree: the copyright file in Debian's
// machine-readable format, the software centre's metainfo and the licence text in the tree.
TEST_F(InstallTree, LicenceIsStatedAlikeEverywhere) {
    const auto stanzas = CopyrightStanzas(file("share/doc/postlark/copyright"));
    ASSERT_GE(stanzas.size(), 3u);
    const auto field = [](const std::map<QString, QString>& stanza, const QString& name) {
        const auto it = stanza.find(name);
        return it == stanza.end() ? QString() : it->second;
    };
    EXPECT_EQ(field(stanzas[0], "Format"),
              "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/");
    std::set<std::string> spelledOut; // stand-alone License stanzas with their text
    std::vector<std::string> used;    // the licences of the Files stanzas
    for (const auto& stanza : stanzas) {
        const QString license = field(stanza, "License");
        if (license.isEmpty())
            continue;
        if (!field(stanza, "Files").isEmpty()) {
            EXPECT_FALSE(field(stanza, "Copyright").isEmpty());
            used.push_back(license.section('\n', 0, 0).toStdString());
        } else if (license.contains('\n')) {
            spelledOut.insert(license.section('\n', 0, 0).toStdString());
        }
    }
    EXPECT_EQ(used, std::vector<std::string>{"GPL-3+"});
    for (const std::string& license : used)
        EXPECT_TRUE(spelledOut.count(license)) << "no License stanza spells out " << license;

    EXPECT_EQ(XmlValues(metainfo(), "project_license", {}), QStringList{"GPL-3.0-or-later"});

    QFile text(POSTLARK_SOURCE_DIR "/LICENSE");
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QByteArray licence = text.readAll();
    EXPECT_TRUE(licence.contains("GNU GENERAL PUBLIC LICENSE\n                       Version 3"));
    QFile debian("/usr/share/common-licenses/GPL-3");
    if (debian.open(QIODevice::ReadOnly)) {
        EXPECT_EQ(licence, debian.readAll()) << "LICENSE differs from Debian's GPL-3 text";
    }
}

TEST_F(InstallTree, ManualPageRendersWithoutWarnings) {
    if (!Have("man"))
        GTEST_SKIP() << "not installed: man (scripts/bootstrap installs man-db)";
    const Outcome man =
        RunProgram("man", {"--warnings", "-l", file("share/man/man1/postlark.1.gz")},
                   {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}, {"MANPAGER", "cat"}});
    EXPECT_EQ(man.exitCode, 0);
    EXPECT_EQ(man.err, "") << "groff warnings";
    for (const char* part : {"NAME", "SYNOPSIS", "postlark /registrystart", "FILE.pls", "FILES",
                             "ENVIRONMENT", "EXIT STATUS", "pop3s://host"})
        EXPECT_TRUE(man.out.contains(part)) << part;
}

// What a desktop does when the user picks the menu entry: run its Exec line with the field
// codes dropped (no file chosen) and the installed program first on PATH.
TEST_F(InstallTree, MenuEntryStartsTheInstalledProgramWithItsWindow) {
    const test::XServer::Options options{.windowManager = true};
    if (const QString missing = test::XServer::missingPrograms(options); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (!Have("xdotool"))
        GTEST_SKIP() << "not installed: xdotool";
    test::XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    test::TestEnvironment env;

    QStringList command = DesktopKey(desktopFile(), "Exec").split(' ', Qt::SkipEmptyParts);
    command.removeIf([](const QString& word) { return word.startsWith('%'); });
    ASSERT_EQ(command, QStringList{"postlark"});

    QProcess program;
    QProcessEnvironment vars = x.environment();
    vars.insert("PATH", prefix() + "/bin:/usr/bin:/bin");
    program.setProcessEnvironment(vars);
    program.start("/bin/sh", {"-c", "exec " + command.join(' ')});
    ASSERT_TRUE(program.waitForStarted());

    QString window;
    const bool shown = test::XServer::waitUntil(
        [&] {
            window =
                x.run("xdotool", {"search", "--onlyvisible", "--name", "^Postlark$"}).trimmed();
            return !window.isEmpty() || program.state() == QProcess::NotRunning;
        },
        15000);
    EXPECT_TRUE(shown && !window.isEmpty())
        << "no window; program said: " << program.readAllStandardError().toStdString();
    if (!window.isEmpty()) {
        // The window carries the program icon for the task bar and the window list.
        const QString icon = x.run("xprop", {"-id", window.section('\n', 0, 0), "_NET_WM_ICON"});
        EXPECT_TRUE(icon.startsWith("_NET_WM_ICON(CARDINAL) =")) << icon.left(80).toStdString();
    }
    ::kill(pid_t(program.processId()), SIGTERM);
    EXPECT_TRUE(program.waitForFinished(10000));
    EXPECT_TRUE(test::ExitedCleanly(program));
}

} // namespace
} // namespace postlark
