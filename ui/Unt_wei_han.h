// TfrmWeiHan: the editor of the custom Wade-Giles / Hong Kong-Taiwan dictionary. Its texts, places and tab order are in
// Unt_wei_han.ui; its behaviour is DictEditor's.
#pragma once

#include <memory>

#include "DictEditor.h"

namespace Ui {
class TfrmWeiHan;
}

class TfrmWeiHan : public DictEditor {
  Q_OBJECT

 public:
  explicit TfrmWeiHan(quorvel::PronunciationData& data, QWidget* parent = nullptr);
  ~TfrmWeiHan() override;

 private:
  std::unique_ptr<Ui::TfrmWeiHan> ui_;
};

extern TfrmWeiHan* frmWeiHan;
