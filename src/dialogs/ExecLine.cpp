// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/ExecLine.h"

namespace postlark {

namespace {

// Characters that make an argument need quotes.
bool IsReserved(QChar c) {
    return QStringView(u" \t\n\"'\\><~|&;$*?#()`").contains(c);
}

} // namespace

QString QuoteExecArgument(const QString& argument) {
    const bool quote =
        argument.isEmpty() || std::any_of(argument.begin(), argument.end(), IsReserved);
    QString out = quote ? "\"" : "";
    for (const QChar c : argument) {
        if (c == '%')
            out += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += QString('\\') + c;
        else
            out += c;
    }
    return quote ? out + '"' : out;
}

QString ExecCommand(const QString& program, const QStringList& arguments) {
    QStringList words;
    if (program.contains('%'))
        words << "/bin/sh"
              << "-c"
              << "exec \"$0\" \"$@\"";
    words << program << arguments;
    for (QString& word : words)
        word = QuoteExecArgument(word);
    return words.join(' ');
}

std::optional<QStringList> SplitExecLine(const QString& command) {
    QStringList arguments;
    QString current;
    bool inWord = false, inQuotes = false, onlyFieldCodes = true;
    const auto endWord = [&] {
        if (inWord && !(onlyFieldCodes && current.isEmpty()))
            arguments += current;
        current.clear();
        inWord = false;
        onlyFieldCodes = true;
    };
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (inQuotes) {
            if (c == '"')
                inQuotes = false;
            else if (c == '\\' && i + 1 < command.size())
                current += command[++i];
            else if (c == '%' && i + 1 < command.size() && command[i + 1] == '%')
                current += command[++i];
            else
                current += c;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            endWord();
            continue;
        }
        inWord = true;
        if (c == '"') {
            inQuotes = true;
            onlyFieldCodes = false;
        } else if (c == '%' && i + 1 < command.size()) {
            const QChar code = command[++i];
            if (code == '%') {
                current += '%';
                onlyFieldCodes = false;
            }
        } else {
            current += c;
            onlyFieldCodes = false;
        }
    }
    if (inQuotes)
        return std::nullopt;
    endWord();
    return arguments;
}

} // namespace postlark
