#include "camera/directshow_capture.h"

#include "camera/camera_control.h"

namespace camera {

void DirectShowCapture::ListCameras() {}

void DirectShowCapture::SwitchOff() {}

void DirectShowCapture::ShutdownAtExit() {}

}  // namespace camera
