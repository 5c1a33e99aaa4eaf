#pragma once
// The files of a run's analysis of every frame: the lock-in maps as NumPy arrays and as
// pictures, and the phase bins' mean pictures stamped with their phase. Pure functions of
// values, no widget and no event loop: the worker thread that writes the analysis calls them.
// The numbers in the pictures follow the default QLocale (a Russian one writes "12,5").

#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>
#include <vector>

namespace analysis {
struct LockInMaps;  // analysis/lock_in.h; the callers hold the maps and include it
}  // namespace analysis

namespace recording {

// `values` (row-major, `height` rows of `width`) as a NumPy 1.0 file of '<f4' with the shape
// (height, width), the data starting on a 64-byte boundary, as NumPy writes it. The file
// appears under its name only once its data is on the disk; on failure nothing is left and
// `error` says why with the path and the system's reason (also logged).
bool WriteNpy(const QString& path, const std::vector<float>& values, int width, int height,
              QString* error);

// Where both map pictures put a map of this size: below the title line, each map pixel a
// square of whole picture pixels (a small map is enlarged to be seen).
QRect MapArea(int width, int height);

// The amplitude map in a perceptual colour scale from 0 to the 99.5th percentile of the
// amplitude (a few hot pixels do not darken the rest; above it is the top colour), with
// `title` above and the colour bar with its numbers beside. A pixel whose amplitude is not a
// number is dark grey. RGB32; null for empty maps.
QImage AmplitudeMapImage(const analysis::LockInMaps& maps, const QString& title);

// The phase map: hue = phase (0..360°), full saturation and brightness. A pixel whose
// amplitude is not above 3 × its noise is dark grey: its sigma, but never less than what
// rounding each frame to whole grey levels leaves over the maps' frames (so a pixel that never
// changed is masked). Where the sigma is not a number (three distinct phases leave no scatter
// to estimate it) only that floor masks. With `title` above and a colour ring of 0°, 90°, 180° and
// 270° (counter-clockwise from the right) and a note on the grey beside. RGB32; null for
// empty maps.
QImage PhaseMapImage(const analysis::LockInMaps& maps, const QString& title);

// The two lines a phase bin's picture is stamped with: "Фаза 12,5°" (the phase brought into
// 0..360 and rounded to a tenth) and "Кадров: 57", joined by '\n'.
QString BinStampText(double phaseDeg, std::int64_t frames);

// A copy of `mean` (RGB32) with a small white box in its top left corner holding
// BinStampText in black. Null for a null picture.
QImage StampBinPicture(const QImage& mean, double phaseDeg, std::int64_t frames);

}  // namespace recording
