#pragma once
// A dialog listing a camera's formats — each format and size with each of its frame rates —
// with the one in use selected. The capture-window and the filter-graph format dialogs are
// both this list.

#include <QDialog>
#include <vector>

#include "platform/gst/camera_devices.h"

class QBoxLayout;
class QListWidget;

namespace gst {

class FormatDialog : public QDialog {
  Q_OBJECT

 public:
  FormatDialog(const QString& title, const std::vector<CameraFormat>& formats,
               const CameraFormat* current, const FrameRate* currentRate, QWidget* parent);

  // The chosen format with the chosen rate first in its list; null when nothing is chosen.
  const CameraFormat* Chosen() const;
  const FrameRate* ChosenRate() const;
  // Selects the row of a format and rate, as the operator would; false when it is not there.
  bool Select(const QString& format, int width, int height, const FrameRate& rate);
  QListWidget* List() const { return list_; }

 private:
  struct Row {
    CameraFormat format;
    FrameRate rate;
  };
  std::vector<Row> rows_;
  QListWidget* list_;
};

// "OK" and "Отмена" for a dialog, as a row at its bottom.
void AddDialogButtons(QDialog& dialog, QBoxLayout& layout);

}  // namespace gst
