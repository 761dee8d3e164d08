// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Client-area geometry and the WS_EX_ edges of registered windows.
#include "platform/window/WindowTable.h"

#include <QRect>

namespace postlark::win::detail {

// A child's geometry counted from its parent's client area (inside the parent's frame);
// a top-level window's own geometry.
QRect ClientGeometry(const QWidget* w);
void SetClientGeometry(QWidget* w, const QRect& r);

// Draws the entry's WS_EX_CLIENTEDGE (sunken, 2 pixels) or WS_EX_STATICEDGE (thin, 1 pixel);
// child windows keep their place in the client area when the frame changes.
void ApplyFrame(WindowEntry& e);

} // namespace postlark::win::detail
