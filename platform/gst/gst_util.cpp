#include "platform/gst/gst_util.h"

#include <mutex>

#include "platform/gst/logging.h"

namespace gst {

Q_LOGGING_CATEGORY(lcGst, "strobolux.gst")

void EnsureInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

ElementPtr NewPipeline(const char* name) {
  EnsureInitialized();
  return Adopt(gst_pipeline_new(name));
}

ElementPtr ElementMaker::Make(const char* factory, const char* name) {
  EnsureInitialized();
  ElementPtr element = Adopt(gst_element_factory_make(factory, name));
  if (!element) missing_ << QString::fromLatin1(factory);
  return element;
}

QString ElementMaker::Missing() const {
  return missing_.isEmpty() ? QString()
                            : QStringLiteral("не хватает элемента GStreamer: ") +
                                  missing_.join(QStringLiteral(", "));
}

GstElement* AddToBin(GstElement* bin, ElementPtr element) {
  GstElement* kept = element.get();
  // The bin takes a reference of its own; one it refuses (a name taken, a parent already) is
  // released with the handle.
  return kept && gst_bin_add(GST_BIN(bin), kept) ? kept : nullptr;
}

QString ErrorText(const GError* error, const char* fallback) {
  return QString::fromUtf8(error && error->message ? error->message : fallback);
}

}  // namespace gst
