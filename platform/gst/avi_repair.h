#pragma once
// Mends an AVI file whose recording ended with the program (a power cut, a kill): the muxer
// writes the index (idx1) and the header's sizes and frame counts only at the end of the
// stream, so such a file has none, and many players refuse it. The repair keeps the frames
// that reached the file whole, rebuilds the index from them and sets the sizes and counts;
// it writes the result beside the file and replaces the file only once it is complete.

#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

namespace gst {

struct AviRepairReport {
  enum class Outcome {
    Sound,     // nothing to do: the file was left alone
    Repaired,  // the file was replaced by its repaired copy
    Failed,    // not repaired (`reason`); the file was left as it was
  };
  Outcome outcome = Outcome::Failed;
  QString path;
  std::uint64_t framesKept = 0;    // video frames of the repaired file
  std::uint64_t bytesDropped = 0;  // the unfinished or garbled end left out
  QString reason;                  // why it could not be repaired

  // One line for the console, in English.
  QString Text() const;
};

// Looks at the AVI file at `path` and, when its recording never finished (RIFF or movi size
// wrong, no index, no frame count), repairs it in place as described above.
AviRepairReport RepairAvi(const QString& path);

// Repairs the *.avi files of `folder` that need it, and removes the copies of repairs cut
// short. A file written to within the last `quiet` is skipped: another instance of the program
// may be recording or repairing it. Reports the files that needed repair, in name order.
std::vector<AviRepairReport> RepairAviFolder(const QString& folder,
                                             std::chrono::seconds quiet = std::chrono::seconds(30));

}  // namespace gst
