#pragma once
// The camera's own frames saved beside the stamped pictures, for analysis: unstamped, at the
// camera's size, lossless.

#include <QString>
#include <optional>

namespace recording {

enum class FrameFiles { None, Rgb, Grey };

// "none", "rgb" or "grey": the settings' and run.json's word for the choice.
QString FrameFilesName(FrameFiles files);

// The operator's choice (the picture window's menu), kept in the user's settings.
FrameFiles FrameFilesChosen();
void ChooseFrameFiles(FrameFiles files);
// --frames: this process's choice whatever the settings say; nothing is stored.
void ForceFrameFiles(FrameFiles files);

}  // namespace recording
