#include "Unt_wei_han.h"

#include "ui_Unt_wei_han.h"

TfrmWeiHan* frmWeiHan = nullptr;

TfrmWeiHan::TfrmWeiHan(quorvel::PronunciationData& data, QWidget* parent)
    : DictEditor(data, quorvel::CustomDictionary::Kind::kWadeGiles, parent), ui_(std::make_unique<Ui::TfrmWeiHan>()) {
  ui_->setupUi(this);
  Bind({ui_->edt_han, ui_->edt_pinyin, ui_->btn_add, ui_->btn_del, ui_->btn_clear, ui_->btn_search,
        ui_->ListBox_define_han});
}

TfrmWeiHan::~TfrmWeiHan() = default;
