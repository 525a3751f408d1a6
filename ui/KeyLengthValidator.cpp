#include "KeyLengthValidator.h"

namespace {

// True when a surrogate pair, one character, ends just before `end`.
bool PairEndsAt(const QString& text, int end, int start) {
  return end - 2 >= start && text[end - 1].isLowSurrogate() && text[end - 2].isHighSurrogate();
}

}  // namespace

KeyLengthValidator::KeyLengthValidator(int maxCharacters, QObject* parent)
    : QValidator(parent), maxCharacters_(maxCharacters) {}

int KeyLengthValidator::CharacterCount(const QString& text) {
  int count = 0;
  for (int i = 0; i < text.size();) {
    count += text[i].unicode() > 0x20;
    i += text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
  }
  return count;
}

QValidator::State KeyLengthValidator::validate(QString& input, int& pos) const {
  int count = CharacterCount(input);
  const int oldCount = CharacterCount(accepted_);
  // Shrinking stays allowed even while a stored key longer than the limit stands in the field.
  if (bypass_ || count <= maxCharacters_ || count <= oldCount) {
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
  while (end > start && count > maxCharacters_) {
    const int back = PairEndsAt(input, end, start) ? 2 : 1;
    count -= input[end - back].unicode() > 0x20;
    end -= back;
  }
  // Nothing of the insertion left: refuse it, so the field sees no change at all.
  if (end == start || (count > maxCharacters_ && count > oldCount)) return Invalid;
  input.remove(end, pos - end);
  pos = end;
  accepted_ = input;
  return Acceptable;
}

void KeyLengthValidator::Reset(const QString& text) { accepted_ = text; }
