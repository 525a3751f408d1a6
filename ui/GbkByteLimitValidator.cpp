#include "GbkByteLimitValidator.h"

#include "CustomDictionary.h"

namespace {

int CharBytesAt(const QString& text, int i, int* length) {
  char32_t cp = text[i].unicode();
  *length = 1;
  if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
    cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
    *length = 2;
  }
  return quorvel::GbkCharBytes(cp);
}

}  // namespace

GbkByteLimitValidator::GbkByteLimitValidator(int maxBytes, QObject* parent)
    : QValidator(parent), maxBytes_(maxBytes) {}

int GbkByteLimitValidator::ByteCount(const QString& text) {
  int bytes = 0;
  for (int i = 0, length = 1; i < text.size(); i += length) bytes += CharBytesAt(text, i, &length);
  return bytes;
}

QValidator::State GbkByteLimitValidator::validate(QString& input, int& pos) const {
  int bytes = ByteCount(input);
  int oldBytes = ByteCount(accepted_);
  // Shrinking stays allowed even while a stored key longer than the limit stands in the field.
  if (bypass_ || bytes <= maxBytes_ || bytes <= oldBytes) {
    accepted_ = input;
    return Acceptable;
  }
  // The new characters end at the cursor. They start where the text stops matching the old one,
  // and no later than the growth in length allows (the new text may repeat the old one's start).
  // Drop them from the cursor back until the text fits, keeping the leading ones.
  int start = 0;
  while (start < pos && start < accepted_.size() && input[start] == accepted_[start]) ++start;
  start = qBound(0, qMin(start, pos - int(input.size() - accepted_.size())), pos);
  if (start > 0 && input[start - 1].isHighSurrogate()) --start;
  int end = pos;
  while (end > start && bytes > maxBytes_) {
    int back = end - 2 >= start && input[end - 1].isLowSurrogate() && input[end - 2].isHighSurrogate() ? 2 : 1;
    int length = 1;
    bytes -= CharBytesAt(input, end - back, &length);
    end -= back;
  }
  // Nothing of the insertion left: refuse it, so the field sees no change at all.
  if (end == start || (bytes > maxBytes_ && bytes > oldBytes)) return Invalid;
  input.remove(end, pos - end);
  pos = end;
  accepted_ = input;
  return Acceptable;
}

void GbkByteLimitValidator::Reset(const QString& text) { accepted_ = text; }
