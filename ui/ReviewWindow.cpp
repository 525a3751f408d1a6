#include "ReviewWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "CustomDictionary.h"
#include "Encoding.h"
#include "Errors.h"
#include "PlatformDialogs.h"
#include "TextLines.h"
#include "ui_ReviewWindow.h"

namespace {

enum Column { kLineColumn, kNameColumn, kOutputColumn, kReasonColumn, kChoiceColumn, kColumnCount };

QString FromGbk(std::string_view gbk) {
  return QString::fromStdString(quorvel::Gb18030ToUtf8(gbk));
}

// The flags without their alternatives, which are the buttons: "参: can / cen / shen (rare in
// given names)".
QString Reasons(std::vector<quorvel::ReviewFlag> flags) {
  for (auto& flag : flags) flag.alternatives.clear();
  return QString::fromStdString(quorvel::FlagText(flags));
}

}  // namespace

ReviewWindow::ReviewWindow(quorvel::ListFiles& data, ReviewTarget target,
                           std::vector<quorvel::ReviewedLine>& lines, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ReviewWindow>()),
      data_(data),
      target_(std::move(target)),
      lines_(lines) {
  ui_->setupUi(this);
  ui_->summaryLabel->setText(QStringLiteral("%1 个姓名需要核对：点选正确的读法，%2随即改写。")
                                 .arg(lines_.size())
                                 .arg(target_.rewritten));
  connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
  Fill();
}

ReviewWindow::~ReviewWindow() = default;

void ReviewWindow::Fill() {
  QTableWidget* table = ui_->reviewTable;
  table->setColumnCount(kColumnCount);
  table->setHorizontalHeaderLabels({QStringLiteral("行"), QStringLiteral("姓名"),
                                    QStringLiteral("译名"), QStringLiteral("需核对"),
                                    QStringLiteral("改为")});
  table->setRowCount(static_cast<int>(lines_.size()));
  table->verticalHeader()->hide();
  for (int row = 0; row < table->rowCount(); ++row) {
    const quorvel::ReviewedLine& line = lines_[static_cast<size_t>(row)];
    table->setItem(row, kLineColumn, new QTableWidgetItem(QString::number(line.number)));
    table->setItem(row, kNameColumn,
                   new QTableWidgetItem(FromGbk(quorvel::TrimControls(line.name))));
    table->setItem(row, kOutputColumn, new QTableWidgetItem(FromGbk(line.output)));
    table->setItem(row, kReasonColumn, new QTableWidgetItem(Reasons(line.flags)));
    auto* choices = new QWidget(table);
    auto* layout = new QHBoxLayout(choices);
    layout->setContentsMargins(2, 0, 2, 0);
    for (size_t f = 0; f < line.flags.size(); ++f) {
      for (size_t a = 0; a < line.flags[f].alternatives.size(); ++a) {
        auto* button = new QPushButton(FromGbk(line.flags[f].alternatives[a]), choices);
        button->setObjectName(QStringLiteral("alternative-%1-%2-%3").arg(row).arg(f).arg(a));
        connect(button, &QPushButton::clicked, this,
                [this, row, f, a] { choose(row, static_cast<int>(f), static_cast<int>(a)); });
        layout->addWidget(button);
      }
    }
    layout->addStretch();
    table->setCellWidget(row, kChoiceColumn, choices);
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
}

void ReviewWindow::choose(int row, int flag, int alternative) {
  quorvel::ReviewedLine& line = lines_.at(static_cast<size_t>(row));
  const quorvel::ReviewFlag& chosen = line.flags.at(static_cast<size_t>(flag));
  const std::string& text = chosen.alternatives.at(static_cast<size_t>(alternative));
  try {
    target_.rewrite(line, text);
    line.output = text;
    ui_->reviewTable->item(row, kOutputColumn)->setText(FromGbk(text));
    if (!ui_->rememberCheck->isChecked()) return;
    data_.Refresh();
    const auto entry =
        quorvel::EntryForAlternative(data_, line.name, chosen, static_cast<size_t>(alternative));
    if (!entry) {
      PlatformDialogs::Instance().ShowMessage(
          this, QStringLiteral("“%1”无法记为整名（复姓只有一个读音），只改写了目标文件。")
                    .arg(FromGbk(quorvel::TrimControls(line.name))));
      return;
    }
    quorvel::CustomDictionary(data_, quorvel::CustomDictionary::Kind::kWholeNames)
        .AddOrUpdate(entry->key, entry->reading);
  } catch (const std::exception& error) {
    ShowFailure(error);
  }
}

void ReviewWindow::ShowFailure(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(
      this, QString::fromStdString(quorvel::WithFullStop(error.what())));
}

ConversionReview::ConversionReview(const quorvel::ListFiles& data,
                                   const quorvel::ConversionOptions& options)
    : reviewer_(data, options) {}

quorvel::LineFn ConversionReview::Hook() {
  return [this](size_t number, std::string_view name, std::string_view output) {
    std::vector<quorvel::ReviewFlag> flags = reviewer_.Review(name);
    if (!flags.empty())
      lines_.push_back({number, std::string(name), std::string(output), std::move(flags)});
  };
}

void ConversionReview::Finish(std::string target, bool utf8Target) {
  target_.rewritten = QStringLiteral("目标文件的那一行");
  target_.rewrite = [target = std::move(target), utf8Target](const quorvel::ReviewedLine& line,
                                                             const std::string& replacement) {
    auto inTarget = [utf8Target](const std::string& gbk) {
      return utf8Target ? quorvel::Gb18030ToUtf8(gbk) : gbk;
    };
    quorvel::RewriteTargetLine(target, line.number, inTarget(line.output), inTarget(replacement));
  };
}

void ConversionReview::FinishTable(std::string target, quorvel::TableCellPlace place) {
  target_.rewritten = QStringLiteral("目标表格中那一行的译名");
  target_.rewrite = [target = std::move(target), place = std::move(place)](
                        const quorvel::ReviewedLine& line, const std::string& replacement) {
    quorvel::TableCellPlace cell = place;
    cell.row = line.number;
    quorvel::RewriteTableName(target, cell, line.output, replacement);
  };
}

void ConversionReview::Show(QWidget* parent, quorvel::ListFiles& data) {
  ReviewWindow window(data, target_, lines_, parent);
  window.exec();
}
