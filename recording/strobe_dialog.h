#pragma once
// The strobe and the choice of a picture's frame, as the operator sets them: a dialog of the
// picture window's menu. What it shows and returns are values; storing them is the caller's.

#include <QDialog>

#include "generator/strobe.h"
#include "recording/frame_rule.h"

class QDoubleSpinBox;
class QRadioButton;
class QSpinBox;

namespace recording {

class StrobeDialog : public QDialog {
  Q_OBJECT

 public:
  StrobeDialog(const generator::StrobeSettings& strobe, FrameChoice choice,
               QWidget* parent = nullptr);

  generator::StrobeSettings Strobe() const;
  FrameChoice Choice() const;

  QRadioButton* StrobeOff;
  QRadioButton* StrobeEveryPeriod;
  QRadioButton* StrobeInstants;
  QDoubleSpinBox* Width;  // ms
  QSpinBox* Level;        // % of full scale
  QRadioButton* Nearest;
  QRadioButton* ByPhase;
};

}  // namespace recording
