// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The maker's addresses that the About box and the Updates dialog open. This is the one place a
// packager changes them.
namespace postlark::MakerLinks {

inline constexpr const char* HomePage = "https://postlark.org/";
inline constexpr const char* MessageBoards = "https://postlark.org/forum/";
inline constexpr const char* UpdatePage = "https://postlark.org/download/";
// Opens the user's mail program; the tool tip shows the address without the scheme.
inline constexpr const char* SupportMail = "mailto:support@postlark.org";

} // namespace postlark::MakerLinks
