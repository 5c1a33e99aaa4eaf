#pragma once
// The picture a recording instant saves, as a value: the frame laid on the picture panel the way
// the chosen back end lays it, the instant's stamp copied onto its corner, and the file's bytes.
// No widget is involved, so the writer composes it on its own thread and the picture window
// only shows the result.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSize>
#include <optional>

namespace recording {

enum class Backend {
  CaptureWindow,  // the frame at its own size from the panel's top left corner
  FilterGraph,    // the frame stretched over the whole panel
};

enum class PictureFormat { Bmp, Jpeg };

// The JPEG quality of every recorded and snapped JPEG picture.
inline constexpr int kJpegQuality = 70;

struct PictureLayout {
  Backend backend = Backend::FilterGraph;
  PictureFormat format = PictureFormat::Bmp;
  QSize panel;  // the picture panel's inner size: the saved picture's size
  QColor background = Qt::white;
};

struct StampedPicture {
  QImage image;                    // what the panel shows, RGB32
  std::optional<QByteArray> file;  // the file's bytes; none when the encoder refused the image
};

// The picture of one instant. `stamp` goes unscaled onto the top left corner over the frame.
StampedPicture MakeStampedPicture(const QImage& frame, const QImage& stamp,
                                  const PictureLayout& layout);

// The bytes of a picture file: BMP as 24 bits bottom-up, JPEG at kJpegQuality.
std::optional<QByteArray> EncodePicture(const QImage& picture, PictureFormat format);

// The bytes of a camera frame's own file for analysis: PNG, 8-bit grey or RGB as `grey` says.
std::optional<QByteArray> EncodeFrameFile(const QImage& frame, bool grey);

}  // namespace recording
