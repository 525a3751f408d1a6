#include "TableColumnChooser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>

#include "ui_TableColumnChooser.h"

namespace {

constexpr size_t kPreviewRows = 8;

}  // namespace

TableColumnChooser::TableColumnChooser(const QString& sourcePath, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TableColumnChooser>()) {
  preview_ = quorvel::PreviewTable(QFile::encodeName(sourcePath).toStdString(), {}, kPreviewRows);
  ui_->setupUi(this);
  const bool header = !preview_.guess || preview_.guess->header;
  for (size_t i = 0; i < preview_.columns; ++i) {
    QString caption = QString::fromStdString(quorvel::ColumnLetters(i));
    const std::vector<std::vector<std::string>>& rows = preview_.rows;
    if (header && !rows.empty() && i < rows.front().size() && !rows.front()[i].empty())
      caption += QStringLiteral("  ") + QString::fromStdString(rows.front()[i]);
    ui_->columnCombo->addItem(caption);
  }
  ui_->headerCheck->setChecked(header);
  FillPreview();
  connect(ui_->columnCombo, &QComboBox::currentIndexChanged, this,
          &TableColumnChooser::columnChosen);
  connect(ui_->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(ui_->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  ui_->columnCombo->setCurrentIndex(preview_.guess ? static_cast<int>(preview_.guess->column) : -1);
  columnChosen(ui_->columnCombo->currentIndex());
}

TableColumnChooser::~TableColumnChooser() = default;

void TableColumnChooser::FillPreview() {
  QTableWidget* table = ui_->previewTable;
  table->setRowCount(static_cast<int>(preview_.rows.size()));
  table->setColumnCount(static_cast<int>(preview_.columns));
  QStringList letters;
  for (size_t i = 0; i < preview_.columns; ++i)
    letters << QString::fromStdString(quorvel::ColumnLetters(i));
  table->setHorizontalHeaderLabels(letters);
  for (size_t r = 0; r < preview_.rows.size(); ++r)
    for (size_t c = 0; c < preview_.rows[r].size(); ++c)
      table->setItem(static_cast<int>(r), static_cast<int>(c),
                     new QTableWidgetItem(QString::fromStdString(preview_.rows[r][c])));
}

// The header tick follows the chosen column: a header row unless its first cell is a name.
void TableColumnChooser::columnChosen(int index) {
  ui_->buttons->button(QDialogButtonBox::Ok)->setEnabled(index >= 0);
  if (index < 0) return;
  ui_->previewTable->selectColumn(index);
  const auto column = static_cast<size_t>(index);
  const std::vector<std::vector<std::string>>& rows = preview_.rows;
  if (!rows.empty())
    ui_->headerCheck->setChecked(column >= rows.front().size() ||
                                 !quorvel::LooksLikeName(rows.front()[column]));
}

quorvel::TableOptions TableColumnChooser::Choice() const {
  quorvel::TableOptions options;
  const int column = ui_->columnCombo->currentIndex();
  if (column >= 0) options.column = std::to_string(column + 1);
  options.header =
      ui_->headerCheck->isChecked() ? quorvel::HeaderRow::kPresent : quorvel::HeaderRow::kNone;
  const QCheckBox* added[quorvel::kAddedColumnCount] = {ui_->surnameCheck,       ui_->givenCheck,
                                                        ui_->initialsCheck,      ui_->citationCheck,
                                                        ui_->passportAddedCheck, ui_->reviewCheck};
  for (int i = 0; i < quorvel::kAddedColumnCount; ++i)
    if (added[i]->isChecked()) options.added |= 1u << i;
  return options;
}
