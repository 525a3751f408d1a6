// TfrmHan: the editor of the custom standard pinyin dictionary. Its texts, places and tab order are in
// Unt_han.ui; its behaviour is DictEditor's.
#pragma once

#include <memory>

#include "DictEditor.h"

namespace Ui {
class TfrmHan;
}

class TfrmHan : public DictEditor {
  Q_OBJECT

 public:
  explicit TfrmHan(quorvel::PronunciationData& data, QWidget* parent = nullptr);
  ~TfrmHan() override;

 private:
  std::unique_ptr<Ui::TfrmHan> ui_;
};

extern TfrmHan* frmHan;
