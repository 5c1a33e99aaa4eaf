#pragma once
// The video-device library's dialogs: the formats of a pin, and the picture controls of a
// capture filter. Each is modal over its owner and returns when the operator has closed it.

#include <QWidget>
#include <memory>

#include "platform/graph/graph.h"

namespace graph {

class PinFormatDialog {
 public:
  void AttachPin(std::shared_ptr<IPinInfo> pin) { pin_ = std::move(pin); }
  // Every format of the pin, raw and JPEG, with sizes and frame rates; the one chosen is the
  // pin's from then on. Nothing happens without a pin.
  void ShowDialog(QWidget* owner);

 private:
  std::shared_ptr<IPinInfo> pin_;
};

class FilterPropertiesDialog {
 public:
  void AttachFilter(std::shared_ptr<IFilterInfo> filter) { filter_ = std::move(filter); }
  // The camera's controls, each change in effect at once; the graph keeps running.
  void ShowDialog(QWidget* owner);

 private:
  std::shared_ptr<IFilterInfo> filter_;
};

}  // namespace graph
