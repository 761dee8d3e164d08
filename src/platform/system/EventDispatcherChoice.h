// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt's own event dispatcher instead of GLib's, where nothing in the process needs GLib's main
// loop. Each turn of GLib's loop asks every source to prepare and check itself and wakes the
// loop for every socket watch switched on or off; Qt's dispatcher does the same waiting with
// less work per turn, which a check run takes several times per account. GLib's loop stays
// when the desktop may load the GTK platform theme (its native dialogs run in GLib's loop) or
// when a platform theme is chosen by hand, and the user's own QT_NO_GLIB setting wins.
//
// Call ChooseEventDispatcher() before the application object is made and
// EndEventDispatcherChoice() right after: the choice is passed to Qt through the environment,
// and programs started from here must not inherit it.

namespace postlark {

// True when Qt's own dispatcher was chosen.
bool ChooseEventDispatcher();
void EndEventDispatcherChoice();

} // namespace postlark
