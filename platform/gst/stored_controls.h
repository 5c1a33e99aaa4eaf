#pragma once
// The picture controls the operator set, remembered per camera (CameraIdentity) in the user's
// settings and applied again whenever that camera opens.

#include <QString>
#include <QStringList>

namespace gst {

class CameraControls;

}  // namespace gst
