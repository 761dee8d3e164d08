// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PlaySoundA on the freedesktop sound theme, played through libcanberra.
// With SND_ALIAS the sound is a system alias: "MailBeep" is the theme event
// "message-new-email" (the theme falls back to its general "message" sound when it has no
// mail-specific one). With SND_FILENAME it is a sound file. With neither, an alias is tried
// first, then a file. Playing is always asynchronous: the call never waits for the sound.
// Returns TRUE when the sound was started; FALSE for an unknown alias or when nothing can be
// played (no sound device, no theme), silently.
#include "platform/base/Win32Types.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace postlark::win {

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_ALIAS = 0x00010000;
constexpr DWORD SND_FILENAME = 0x00020000;

BOOL PlaySoundA(const QString& sound, std::intptr_t hmod, DWORD flags);

// For tests: while logging is on, every sound requested (the theme event id, or the file
// name) is recorded, whether or not it could be played. Switching logging clears the record.
void SetSoundLogging(bool on);
QStringList SoundLog();

} // namespace postlark::win
