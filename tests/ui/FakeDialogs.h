// Answers the windows' dialogs in tests: records every message, error, confirmation, file dialog
// and desktop-open call in order, and answers confirmations and file dialogs from prepared queues.
// A confirmation is recorded with the answer it preselects; a file dialog's start path is kept
// apart (Starts()), so that a check of the calls need not spell it out.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <ostream>
#include <vector>

#include "PlatformDialogs.h"

class RecordingDialogs : public PlatformDialogs {
 public:
  enum class Kind { kMessage, kError, kConfirm, kOpenDialog, kSaveDialog, kDesktop };
  struct Call {
    Kind kind;
    QString text;  // the message, or the path or address to open; empty for file dialogs
    // For confirmations: the answer Enter gives.
    PlatformDialogs::Answer preselected = PlatformDialogs::Answer::kYes;
    bool operator==(const Call&) const = default;
  };

  RecordingDialogs() { Install(this); }
  ~RecordingDialogs() override { Install(nullptr); }

  void AnswerConfirm(bool yes) { confirms_.push_back(yes); }
  // The next file dialog confirms `path`; std::nullopt cancels it.
  void AnswerFile(std::optional<QString> path) { files_.push_back(std::move(path)); }

  // The next desktop-open calls report this result (true: a program opened it).
  void AnswerDesktop(bool opened) { desktopOpens_ = opened; }
  // Whether the desktop's program for every file is this program itself (not recorded as a call).
  void AnswerOpensWithThisProgram(bool yes) { opensWithThisProgram_ = yes; }

  std::vector<Call> Take() { return std::exchange(calls_, {}); }
  // The start paths of the file dialogs shown since the last call, in order.
  std::vector<QString> Starts() { return std::exchange(starts_, {}); }
  bool AnswersLeft() const { return !confirms_.empty() || !files_.empty(); }

  void ShowMessage(QWidget*, const QString& text) override {
    calls_.push_back({Kind::kMessage, text});
  }
  void ShowError(QWidget*, const QString& text) override { calls_.push_back({Kind::kError, text}); }
  using PlatformDialogs::Confirm;
  bool Confirm(QWidget*, const QString& text, Answer preselected) override {
    calls_.push_back({Kind::kConfirm, text, preselected});
    if (confirms_.empty()) {
      ADD_FAILURE() << "unexpected confirmation: " << text.toStdString();
      return false;
    }
    bool yes = confirms_.front();
    confirms_.pop_front();
    return yes;
  }
  bool ChooseOpenFile(QWidget*, const QString& start,
                      const std::function<void(const QString&)>& accept) override {
    starts_.push_back(start);
    return Choose(Kind::kOpenDialog, accept);
  }
  bool ChooseSaveFile(QWidget*, const QString& start,
                      const std::function<void(const QString&)>& accept) override {
    starts_.push_back(start);
    return Choose(Kind::kSaveDialog, accept);
  }
  bool OpenWithDesktop(QWidget*, const QString& pathOrUrl) override {
    calls_.push_back({Kind::kDesktop, pathOrUrl});
    return desktopOpens_;
  }
  bool OpensWithThisProgram(const QString&) override { return opensWithThisProgram_; }
  // A progress dialog shows after `milliseconds` of a run (as the program's: 500).
  void AnswerProgressDelay(int milliseconds) { progressDelayMs_ = milliseconds; }
  int ProgressDelayMs() const override { return progressDelayMs_; }

 private:
  bool Choose(Kind kind, const std::function<void(const QString&)>& accept) {
    calls_.push_back({kind, {}});
    if (files_.empty()) {
      ADD_FAILURE() << "unexpected file dialog";
      return false;
    }
    std::optional<QString> path = files_.front();
    files_.pop_front();
    if (!path) return false;
    accept(*path);
    return true;
  }

  std::vector<Call> calls_;
  std::vector<QString> starts_;
  bool desktopOpens_ = true;
  bool opensWithThisProgram_ = false;
  int progressDelayMs_ = 500;
  std::deque<bool> confirms_;
  std::deque<std::optional<QString>> files_;
};

inline void PrintTo(const RecordingDialogs::Call& call, std::ostream* os) {
  static const char* kinds[] = {"message",     "error",       "confirm",
                                "open dialog", "save dialog", "desktop"};
  *os << kinds[static_cast<int>(call.kind)] << " \"" << call.text.toStdString() << "\"";
  if (call.kind == RecordingDialogs::Kind::kConfirm &&
      call.preselected == PlatformDialogs::Answer::kNo)
    *os << " (No preselected)";
}

inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
