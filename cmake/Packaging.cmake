# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package (cpack -G DEB, run by scripts/package). Dependencies on shared
# libraries are computed by dpkg-shlibdeps from the installed program.
set(CPACK_PACKAGE_NAME postlark)
set(CPACK_PACKAGE_VENDOR "Brenmoor Software")
set(CPACK_PACKAGE_CONTACT "Brenmoor Software <support@postlark.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://postlark.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop notifier for new mail in POP3 and IMAP mailboxes")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # postlark_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so invisible to dpkg-shlibdeps: the SVG image plugin draws every icon,
# libcurl serves the connection test and libcanberra plays the new-mail sound.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, libcurl4, libcanberra0")
# The new-mail sound, opening addresses, and the authorities that pop3s:// and imaps://
# servers are checked against.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop, xdg-utils, ca-certificates")
# The synopsis line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the long text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Postlark keeps a list of mail accounts, logs in to each account's POP3
or IMAP server in turn (plain or TLS) and shows how many messages are
waiting. It only asks for the count and never downloads or deletes mail.
.
When mail is waiting it shows a message, and can play the desktop's
new-mail sound, flash its icon in the notification area, bring its window
forward and open a program or web address chosen for each account.")

include(CPack)
