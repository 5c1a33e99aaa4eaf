#include "platform/gst/format_dialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace gst {

void AddDialogButtons(QDialog& dialog, QBoxLayout& layout) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  // No Qt translation is loaded: the buttons say it in the program's language themselves.
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("ОК"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout.addWidget(buttons);
}

FormatDialog::FormatDialog(const QString& title, const std::vector<CameraFormat>& formats,
                           const CameraFormat* current, const FrameRate* currentRate,
                           QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  layout->addWidget(list_);
  for (const CameraFormat& format : formats) {
    for (const FrameRate& rate : format.rates) {
      rows_.push_back({format, rate});
      list_->addItem(QStringLiteral("%1, %2 кадр/с")
                         .arg(format.Describe())
                         .arg(QLocale().toString(rate.PerSecond(), 'g', 4)));
      const bool in_use = current && current->media == format.media &&
                          current->format == format.format && current->width == format.width &&
                          current->height == format.height &&
                          (!currentRate || *currentRate == rate);
      if (in_use && list_->currentRow() < 0) list_->setCurrentRow(list_->count() - 1);
    }
  }
  AddDialogButtons(*this, *layout);
}

const CameraFormat* FormatDialog::Chosen() const {
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<std::size_t>(row)].format;
}

const FrameRate* FormatDialog::ChosenRate() const {
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[static_cast<std::size_t>(row)].rate;
}

bool FormatDialog::Select(const QString& format, int width, int height, const FrameRate& rate) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Row& row = rows_[i];
    const QString name = row.format.IsJpeg() ? QStringLiteral("MJPEG") : row.format.format;
    if (name == format && row.format.width == width && row.format.height == height &&
        row.rate == rate) {
      list_->setCurrentRow(static_cast<int>(i));
      return true;
    }
  }
  return false;
}

}  // namespace gst
