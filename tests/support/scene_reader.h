#pragma once
// Reads the test cameras' scene back from a picture: where the dial's hand points and how
// bright the lamp is, in a frame or in a saved picture of either layout.

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QTransform>

#include "platform/gst/test_scene.h"

namespace testing_support {

// How a frame lies on the picture panel: at its own size from the top left corner, cut at
// the panel's edges (the capture window), or stretched over the whole panel (the filter graph).
enum class PictureFit { Crop, Stretch };

// Frame pixels to picture pixels.
QTransform FrameToPicture(QSize frame, QSize panel, PictureFit fit);

// The layout in picture pixels; a stretched dial's radius is its smaller half-axis.
gst::SceneLayout LayoutInPicture(const gst::SceneLayout& layout, const QTransform& frameToPicture);

// Where the hand points, in degrees (0 up, clockwise): the darkness-weighted circular mean on
// the ring between 0.35 and 0.85 of the radius, so that a smeared hand reads at the middle of
// its smear. The centre and radius are picture pixels.
double ReadHandAngle(const QImage& picture, QPointF centre, double radius);
// The same for a dial given in frame pixels, looked up in the picture through the transform
// (a stretched dial is an ellipse; its angles are read as the frame's).
double ReadHandAngle(const QImage& picture, const QTransform& frameToPicture, QPointF centre,
                     double radius);

// The lamp's brightness, 0 (dark) to 1 (full), from the middle of its rectangle (picture
// pixels).
double ReadLampBrightness(const QImage& picture, QRectF lamp);

// The difference of two angles in degrees, -180..180.
double AngleDifference(double a, double b);

}  // namespace testing_support
