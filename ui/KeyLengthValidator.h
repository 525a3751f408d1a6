// Lets a line edit hold at most `maxCharacters` characters while the user types or pastes (a
// character outside the Basic Multilingual Plane, two UTF-16 units, counts one; spaces and
// control characters count none: the stored key is trimmed, and a line break inside is refused
// with a message). An insertion
// that would go past the limit keeps only its leading characters that fit, as a length-limited
// edit field does. Text set by the program while Bypass is on is taken whole, however long.
#pragma once

#include <QString>
#include <QValidator>

class KeyLengthValidator : public QValidator {
  Q_OBJECT

 public:
  KeyLengthValidator(int maxCharacters, QObject* parent);
  State validate(QString& input, int& pos) const override;
  void SetBypass(bool bypass) { bypass_ = bypass; }
  void Reset(const QString& text);  // the field's text when the validator is installed

  static int CharacterCount(const QString& text);

 private:
  int maxCharacters_;
  bool bypass_ = false;
  mutable QString accepted_;  // the text as last accepted: tells which part is new
};
