#pragma once
// The strobe and the choice of a picture's frame, as the operator sets them: a dialog of the
// picture window's menu. What it shows and returns are values; storing them is the caller's.

#include <QDialog>

#include "generator/strobe.h"
#include "recording/frame_analysis.h"
#include "recording/frame_rule.h"

class QCheckBox;
class QDoubleSpinBox;
class QRadioButton;
class QSpinBox;

namespace recording {

class StrobeDialog : public QDialog {
  Q_OBJECT

 public:
  StrobeDialog(const generator::StrobeSettings& strobe, FrameChoice choice,
               const FrameAnalysisSettings& analysis = {}, QWidget* parent = nullptr);

  generator::StrobeSettings Strobe() const;
  FrameChoice Choice() const;
  FrameAnalysisSettings Analysis() const;

  QRadioButton* StrobeOff;
  QRadioButton* StrobeEveryPeriod;
  QRadioButton* StrobeInstants;
  QDoubleSpinBox* Width;  // ms
  QSpinBox* Level;        // % of full scale
  QRadioButton* Nearest;
  QRadioButton* ByPhase;
  // Every frame of a run: phase bins (their number and the animation's rate), lock-in maps.
  QCheckBox* PhaseBins;
  QSpinBox* Bins;
  QDoubleSpinBox* BinsFps;
  QCheckBox* LockIn;
};

}  // namespace recording
