// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every modal question the program asks (message boxes, file dialogs) passes through this
// hook. With no answerer installed the real Qt dialogs are shown; with one installed (tests)
// the answerer receives the question and returns the answer, and the question is recorded.
#include <QString>
#include <functional>
#include <vector>

namespace postlark {

struct ModalQuestion {
    enum class Kind { MessageBox, OpenFile, SaveFile };
    Kind kind = Kind::MessageBox;

    // Message box: its text, button/icon style and title.
    QString prompt;
    int buttons = 0;
    QString title;

    // File dialog: the settings it was shown with.
    QString filter;
    QString fileName;
    QString dialogTitle;
    bool cancelError = false;
};

struct ModalAnswer {
    int button = 0;         // message box: the chosen button (vbOK, vbYes, ...)
    bool cancelled = false; // file dialog: the user cancelled
    QString fileName;       // file dialog: the chosen file

    static ModalAnswer Button(int result) { return {result, false, {}}; }
    static ModalAnswer File(QString name) { return {0, false, std::move(name)}; }
    static ModalAnswer Cancel() { return {0, true, {}}; }
};

using ModalAnswerer = std::function<ModalAnswer(const ModalQuestion&)>;

// Installs the answerer (an empty function restores the real dialogs) and forgets the
// questions recorded so far.
void SetModalAnswerer(ModalAnswerer answerer);
bool HasModalAnswerer();

// Records the question and returns the installed answerer's answer. Only for callers that
// checked HasModalAnswerer().
ModalAnswer AskModalAnswerer(const ModalQuestion& question);

// The questions asked since the answerer was installed, oldest first.
const std::vector<ModalQuestion>& ModalQuestionsAsked();

// Installs an answerer for the lifetime of the object and removes it afterwards.
class ScopedModalAnswerer {
public:
    explicit ScopedModalAnswerer(ModalAnswerer answerer) { SetModalAnswerer(std::move(answerer)); }
    ~ScopedModalAnswerer() { SetModalAnswerer({}); }
    ScopedModalAnswerer(const ScopedModalAnswerer&) = delete;
    ScopedModalAnswerer& operator=(const ScopedModalAnswerer&) = delete;
};

} // namespace postlark
