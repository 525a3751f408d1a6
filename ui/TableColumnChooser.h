// The choice of a table's name column, shown when a table is opened or dropped on the main window:
// a drop-down of the columns (letter and header), the first rows as a preview with the chosen
// column selected, whether the first row is a header, and the columns to add beside the name.
// The guessed column is chosen at first. The window only reads the controls; the preview and the
// guess come from the engine (PreviewTable).
#pragma once

#include <QDialog>

#include <memory>

#include "TableConversion.h"

namespace Ui {
class TableColumnChooser;
}

class TableColumnChooser : public QDialog {
  Q_OBJECT

 public:
  // Reads the table's first rows; the engine's errors (a damaged workbook, a file that cannot be
  // read) pass through.
  TableColumnChooser(const QString& sourcePath, QWidget* parent = nullptr);
  ~TableColumnChooser() override;

  // The table options as the controls hold them; an empty column when there is none to choose.
  quorvel::TableOptions Choice() const;
  // Whether the engine found the name column by itself.
  bool Guessed() const { return preview_.guess.has_value(); }

 private slots:
  void columnChosen(int index);

 private:
  void FillPreview();
  std::unique_ptr<Ui::TableColumnChooser> ui_;
  quorvel::TablePreview preview_;
};
