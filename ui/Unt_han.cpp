#include "Unt_han.h"

#include <QLabel>

#include "ui_Unt_han.h"

TfrmHan* frmHan = nullptr;

TfrmHan::TfrmHan(quorvel::PronunciationData& data, QWidget* parent)
    : DictEditor(data, quorvel::CustomDictionary::Kind::kStandard, parent), ui_(std::make_unique<Ui::TfrmHan>()) {
  ui_->setupUi(this);
  // Labels take the size of their text in the font in use; the top one keeps its width.
  for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label4}) label->adjustSize();
  ui_->Label3->resize(ui_->Label3->width(), ui_->Label3->sizeHint().height());
  Bind({ui_->edt_han, ui_->edt_pinyin, ui_->btn_add, ui_->btn_del, ui_->btn_clear, ui_->btn_search,
        ui_->ListBox_define_han});
}

TfrmHan::~TfrmHan() = default;
