#pragma once
// How a received chunk reads in the received pane: one line, whatever it holds. Control bytes
// are shown as their Unicode control pictures (0x0D as U+240D, DEL as U+2421) rather than
// breaking the line or showing empty boxes; the other bytes are 8-bit text.
#include <QString>

#include "toolkit/ByteString.h"

QString VisibleChunk(const ByteString& chunk);
