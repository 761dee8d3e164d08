// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace postlark::win {

QByteArray EscapeEntryString(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray UnescapeEntryString(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (const char next = text[++i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        default:
            out += '\\';
            out += next;
        }
    }
    return out;
}

std::optional<QByteArray> ReadAutostartCommand(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool inEntry = false, sawEntry = false;
    std::optional<QByteArray> exec, hidden, enabled;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            inEntry = trimmed == "[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!inEntry || eq < 0)
            continue;
        // Spaces around the key and after '=' are not part of the entry; the value keeps the
        // rest as it stands.
        const QByteArray key = line.left(eq).trimmed();
        QByteArray value = line.mid(eq + 1);
        while (value.startsWith(' ') || value.startsWith('\t'))
            value.remove(0, 1);
        // The first occurrence of a key counts.
        if (key == "Exec" && !exec)
            exec = value;
        else if (key == "Hidden" && !hidden)
            hidden = value.trimmed();
        else if (key == "X-GNOME-Autostart-enabled" && !enabled)
            enabled = value.trimmed();
    }
    if (!sawEntry || hidden == "true" || enabled == "false")
        return std::nullopt;
    return UnescapeEntryString(exec.value_or(QByteArray()));
}

bool WriteAutostartEntry(const QString& path, const QString& name, const QByteArray& command) {
    if (QString::fromUtf8(command).toUtf8() != command || command.contains('\0'))
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=" +
                            EscapeEntryString(name.toUtf8()) +
                            "\n"
                            "Comment=Starts " +
                            EscapeEntryString(name.toUtf8()) +
                            " in the notification area at log-in\n"
                            "Exec=" +
                            EscapeEntryString(command) +
                            "\n"
                            "Icon=org.postlark.Postlark\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n";
    return file.write(text) == text.size() && file.commit();
}

} // namespace postlark::win
