// Lets a line edit hold at most `maxBytes` bytes of GBK while the user types or pastes (a
// character GBK cannot hold counts two, see quorvel::GbkCharBytes). An insertion that would go
// past the limit keeps only its leading characters that fit, as a byte-limited edit field does.
// Text set by the program while Bypass is on is taken whole, however long.
#pragma once

#include <QString>
#include <QValidator>

class GbkByteLimitValidator : public QValidator {
  Q_OBJECT

 public:
  GbkByteLimitValidator(int maxBytes, QObject* parent);
  State validate(QString& input, int& pos) const override;
  void SetBypass(bool bypass) { bypass_ = bypass; }
  void Reset(const QString& text);  // the field's text when the validator is installed

  static int ByteCount(const QString& text);

 private:
  int maxBytes_;
  bool bypass_ = false;
  mutable QString accepted_;  // the text as last accepted: tells which part is new
};
