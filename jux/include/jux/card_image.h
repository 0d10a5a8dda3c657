// The fields of a card record image that JUXInit checks before it makes a
// record: an image read from a damaged settings file must not open as
// something it was never meant to be (a simulated card, say).
#pragma once

#include "jux/jux170.h"

namespace jux {

struct ImageFault {
  long code = 0;              // the error JUXInit stores; 0 when the image is sound
  const char* field = nullptr;  // the field's name, for people
};

// The first field outside its range: method 0 to 3, the simulated,
// connected, bootstrap and open flags 0 or 1, the bus type 0 (not given),
// 1 ISA or 2 VME (each 1005); for the serial method COM port 1 to 16 (3001)
// and an accepted baud rate or 0 (3002).
ImageFault CheckCardImage(const tagMCardInfo& image);

}  // namespace jux
