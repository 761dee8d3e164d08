// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/ModalAnswerer.h"

namespace postlark {

namespace {

ModalAnswerer& Answerer() {
    static ModalAnswerer answerer;
    return answerer;
}

std::vector<ModalQuestion>& Asked() {
    static std::vector<ModalQuestion> asked;
    return asked;
}

} // namespace

void SetModalAnswerer(ModalAnswerer answerer) {
    Answerer() = std::move(answerer);
    Asked().clear();
}

bool HasModalAnswerer() {
    return static_cast<bool>(Answerer());
}

ModalAnswer AskModalAnswerer(const ModalQuestion& question) {
    Asked().push_back(question);
    // A copy, so that an answerer may replace itself while it runs.
    const ModalAnswerer answerer = Answerer();
    return answerer ? answerer(question) : ModalAnswer{};
}

const std::vector<ModalQuestion>& ModalQuestionsAsked() {
    return Asked();
}

} // namespace postlark
