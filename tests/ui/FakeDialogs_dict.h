// A stand-in for the platform dialogs in the editor window tests: records every message,
// error and confirmation in order and answers confirmations from a prepared queue.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <utility>
#include <vector>

#include "PlatformDialogs.h"

class FakeDialogs : public PlatformDialogs {
 public:
  enum class Kind { kMessage, kError, kConfirm };
  struct Shown {
    Kind kind;
    QString text;
    bool operator==(const Shown&) const = default;
  };

  FakeDialogs() { Install(this); }
  ~FakeDialogs() override { Install(nullptr); }

  // Answers the next confirmation (true = Yes).
  void AnswerNext(bool yes) { answers_.push_back(yes); }
  std::vector<Shown> TakeShown() { return std::exchange(shown_, {}); }

  void ShowMessage(QWidget*, const QString& text) override { shown_.push_back({Kind::kMessage, text}); }
  void ShowError(QWidget*, const QString& text) override { shown_.push_back({Kind::kError, text}); }
  bool Confirm(QWidget*, const QString& text) override {
    shown_.push_back({Kind::kConfirm, text});
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected confirmation: " << text.toStdString();
      return false;
    }
    bool yes = answers_.front();
    answers_.pop_front();
    return yes;
  }
  bool ChooseOpenFile(QWidget*, const std::function<void(const QString&)>&) override {
    ADD_FAILURE() << "no file dialog expected";
    return false;
  }
  bool ChooseSaveFile(QWidget*, const std::function<void(const QString&)>&) override {
    ADD_FAILURE() << "no file dialog expected";
    return false;
  }
  void OpenWithDesktop(QWidget*, const QString&) override { ADD_FAILURE() << "nothing to open expected"; }

 private:
  std::vector<Shown> shown_;
  std::deque<bool> answers_;
};

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const FakeDialogs::Shown& s, std::ostream* os) {
  static const char* kinds[] = {"message", "error", "confirm"};
  *os << kinds[static_cast<int>(s.kind)] << " \"" << s.text.toStdString() << "\"";
}
