#include "recording/strobe_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

namespace recording {

StrobeDialog::StrobeDialog(const generator::StrobeSettings& strobe, FrameChoice choice,
                           const FrameAnalysisSettings& analysis, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("StrobeDialog"));
  setWindowTitle(QString::fromUtf8("Стробоскоп и выбор кадра"));

  auto* strobeBox =
      new QGroupBox(QString::fromUtf8("Стробоскоп: светодиод на втором канале звука"));
  StrobeOff = new QRadioButton(QString::fromUtf8("Выключен"));
  StrobeEveryPeriod = new QRadioButton(QString::fromUtf8("Вспышка в каждом периоде тона"));
  StrobeInstants = new QRadioButton(QString::fromUtf8("Вспышка только в моменты снимков"));
  Width = new QDoubleSpinBox;
  Width->setObjectName(QStringLiteral("Width"));
  Width->setDecimals(2);
  Width->setRange(0.01, 100);
  Width->setSingleStep(0.1);
  Width->setValue(strobe.widthMs);
  Level = new QSpinBox;
  Level->setObjectName(QStringLiteral("Level"));
  Level->setRange(0, 100);
  Level->setValue(static_cast<int>(std::lround(strobe.level * 100)));
  auto* strobeLayout = new QVBoxLayout(strobeBox);
  strobeLayout->addWidget(StrobeOff);
  strobeLayout->addWidget(StrobeEveryPeriod);
  strobeLayout->addWidget(StrobeInstants);
  auto* pulse = new QFormLayout;
  pulse->addRow(QString::fromUtf8("Длительность импульса, мс:"), Width);
  pulse->addRow(QString::fromUtf8("Уровень импульса, %:"), Level);
  strobeLayout->addLayout(pulse);
  (strobe.mode == generator::StrobeMode::EveryPeriod ? StrobeEveryPeriod
   : strobe.mode == generator::StrobeMode::Instants  ? StrobeInstants
                                                     : StrobeOff)
      ->setChecked(true);
  const auto follow = [this] {
    Width->setEnabled(!StrobeOff->isChecked());
    Level->setEnabled(!StrobeOff->isChecked());
  };
  connect(StrobeOff, &QRadioButton::toggled, this, follow);
  follow();

  auto* choiceBox = new QGroupBox(QString::fromUtf8("Кадр камеры для снимка"));
  Nearest = new QRadioButton(QString::fromUtf8("Ближайший по времени к моменту снимка"));
  ByPhase = new QRadioButton(
      QString::fromUtf8("Ближайший по фазе экспозиции (из кадров до следующего снимка)"));
  (choice == FrameChoice::Phase ? ByPhase : Nearest)->setChecked(true);
  auto* choiceLayout = new QVBoxLayout(choiceBox);
  choiceLayout->addWidget(Nearest);
  choiceLayout->addWidget(ByPhase);

  auto* allBox = new QGroupBox(QString::fromUtf8("Все кадры записи, по фазе экспозиции"));
  PhaseBins = new QCheckBox(
      QString::fromUtf8("Фазовые интервалы: средний снимок каждой фазы и анимация одного периода"));
  PhaseBins->setChecked(analysis.phaseBins > 0);
  Bins = new QSpinBox;
  Bins->setObjectName(QStringLiteral("Bins"));
  Bins->setRange(2, 120);
  Bins->setValue(analysis.phaseBins > 0 ? analysis.phaseBins : 36);
  BinsFps = new QDoubleSpinBox;
  BinsFps->setObjectName(QStringLiteral("BinsFps"));
  BinsFps->setDecimals(1);
  BinsFps->setRange(1, 60);
  BinsFps->setValue(analysis.binsFps);
  LockIn = new QCheckBox(QString::fromUtf8(
      "Карты отклика на частоте тона (амплитуда и фаза каждого пикселя, синхронное "
      "детектирование)"));
  LockIn->setChecked(analysis.lockIn);
  auto* allLayout = new QVBoxLayout(allBox);
  allLayout->addWidget(PhaseBins);
  auto* binsForm = new QFormLayout;
  binsForm->addRow(QString::fromUtf8("Число интервалов:"), Bins);
  binsForm->addRow(QString::fromUtf8("Кадров в секунду в анимации:"), BinsFps);
  allLayout->addLayout(binsForm);
  allLayout->addWidget(LockIn);
  const auto followBins = [this] {
    Bins->setEnabled(PhaseBins->isChecked());
    BinsFps->setEnabled(PhaseBins->isChecked());
  };
  connect(PhaseBins, &QCheckBox::toggled, this, followBins);
  followBins();

  auto* note = new QLabel(QString::fromUtf8(
      "Действует со следующего запуска. Со стробоскопом снимок берёт кадр, освещённый "
      "вспышкой."));
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("ОК"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Отмена"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(strobeBox);
  layout->addWidget(choiceBox);
  layout->addWidget(allBox);
  layout->addWidget(note);
  layout->addWidget(buttons);
}

generator::StrobeSettings StrobeDialog::Strobe() const {
  generator::StrobeSettings strobe;
  strobe.mode = StrobeEveryPeriod->isChecked() ? generator::StrobeMode::EveryPeriod
                : StrobeInstants->isChecked()  ? generator::StrobeMode::Instants
                                               : generator::StrobeMode::Off;
  strobe.widthMs = Width->value();
  strobe.level = Level->value() / 100.0;
  return strobe;
}

FrameAnalysisSettings StrobeDialog::Analysis() const {
  FrameAnalysisSettings analysis;
  analysis.phaseBins = PhaseBins->isChecked() ? Bins->value() : 0;
  analysis.binsFps = BinsFps->value();
  analysis.lockIn = LockIn->isChecked();
  return analysis;
}

FrameChoice StrobeDialog::Choice() const {
  return ByPhase->isChecked() ? FrameChoice::Phase : FrameChoice::Nearest;
}

}  // namespace recording
