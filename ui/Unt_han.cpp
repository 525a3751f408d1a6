#include "Unt_han.h"

#include "ui_Unt_han.h"

TfrmHan* frmHan = nullptr;

TfrmHan::TfrmHan(quorvel::PronunciationData& data, QWidget* parent)
    : DictEditor(data, quorvel::CustomDictionary::Kind::kStandard, parent), ui_(std::make_unique<Ui::TfrmHan>()) {
  ui_->setupUi(this);
  Bind({ui_->edt_han, ui_->edt_pinyin, ui_->btn_add, ui_->btn_del, ui_->btn_clear, ui_->btn_search,
        ui_->ListBox_define_han});
}

TfrmHan::~TfrmHan() = default;
