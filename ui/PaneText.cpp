#include "ui/PaneText.h"

QString VisibleChunk(const ByteString& chunk) {
  QString text;
  text.reserve(static_cast<qsizetype>(chunk.size()));
  for (const char c : chunk) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) {
      text += QChar(0x2400 + byte);
    } else if (byte == 0x7F) {
      text += QChar(0x2421);
    } else {
      text += QChar(byte);
    }
  }
  return text;
}
