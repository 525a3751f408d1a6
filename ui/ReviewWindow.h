// The review list of a conversion: the names a person should check (the review rule, Review.h),
// each with its line, the name, the output and the reason, and the alternatives as buttons.
//
// Choosing an alternative rewrites that line of the target (only while it still holds what the
// run wrote: RewriteTargetLine for a names file, RewriteTableName for the romanized cell of a
// table's row) and shows the new output; with "remember" ticked the name is also
// taught as a whole name (TaughtNames.h), so the next conversion reads it so. Each alternative
// changes one character of the line as the run wrote it. A name that no whole-name entry can
// hold (a compound surname) is said so. Errors are shown in the standard error box.
//
// ConversionReview gathers the flagged lines while the main window converts; the window's
// "N 个姓名需要核对" button shows them.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BatchConversion.h"
#include "Review.h"
#include "TableConversion.h"

namespace Ui {
class ReviewWindow;
}

// Where a chosen alternative goes: `rewrite(line, replacement)` puts `replacement` (GBK) where the
// target holds the line's output, or throws; `rewritten` names that place for the list's summary.
struct ReviewTarget {
  std::function<void(const quorvel::ReviewedLine& line, const std::string& replacement)> rewrite;
  QString rewritten;
};

class ReviewWindow : public QDialog {
  Q_OBJECT

 public:
  // `lines` are kept up to date with every line rewritten, so the list shown again shows the file.
  ReviewWindow(quorvel::ListFiles& data, ReviewTarget target,
               std::vector<quorvel::ReviewedLine>& lines, QWidget* parent = nullptr);
  ~ReviewWindow() override;

 public slots:
  // Alternative `alternative` of flag `flag` of the listed line `row` (all from 0).
  void choose(int row, int flag, int alternative);

 private:
  void Fill();
  void ShowFailure(const std::exception& error);

  std::unique_ptr<Ui::ReviewWindow> ui_;
  quorvel::ListFiles& data_;
  ReviewTarget target_;
  std::vector<quorvel::ReviewedLine>& lines_;
};

class ConversionReview {
 public:
  ConversionReview(const quorvel::ListFiles& data, const quorvel::ConversionOptions& options);

  // For ConvertTable (and any run): every line goes through the review rule; the flagged ones
  // are kept.
  quorvel::LineFn Hook();
  // For ConvertFile: Hook() with the review's watch, so only the lines it may flag reach it.
  quorvel::LineHook FileHook() { return {Hook(), &reviewer_.Watch()}; }
  size_t Count() const { return lines_.size(); }
  // The run wrote `target` (UTF-8 or GBK) whole.
  void Finish(std::string target, bool utf8Target);
  // The run wrote the table `target`, its romanized names at `place` (the row is each line's
  // number).
  void FinishTable(std::string target, quorvel::TableCellPlace place);
  // The review list, modally.
  void Show(QWidget* parent, quorvel::ListFiles& data);

 private:
  quorvel::NameReviewer reviewer_;
  std::vector<quorvel::ReviewedLine> lines_;
  ReviewTarget target_;
};
