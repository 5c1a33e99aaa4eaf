#pragma once
// Turns a packed device-independent bitmap (a camera frame as an array of 32-bit integers)
// into a picture object, reporting failures in LastError and LastDescription.

#include <QString>
#include <cstdint>
#include <memory>

#include "platform/forms/basic_array.h"
#include "platform/gdi/gdi.h"

namespace imaging {

class DirectShowDIB {
 public:
  DirectShowDIB();

  std::int32_t LastError = 0;
  QString LastDescription;

  // The picture, or null on failure (see LastDescription). An array that is not allocated,
  // not one-dimensional or too short for its own header and rows raises error 9 instead,
  // leaving the report fields as they were.
  std::shared_ptr<gdi::Picture> CreatePicture(const forms::LongArray& LongDIB);

 private:
  gdi::GUID iid_picture_;
};

// The one instance of the program, made on first use.
DirectShowDIB& SharedDirectShowDIB();

// "prefix" + eight upper-case hex digits + " (" + signed decimal + ")".
QString FailureText(const QString& prefix, std::int32_t code);

}  // namespace imaging
