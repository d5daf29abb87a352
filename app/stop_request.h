// What the window needs of the core to stop an update between two images. The core implements
// these; the driver checks the request before it starts each image.
#pragma once

namespace fg {

// Asks the update in progress to stop before its next image: the image being erased or
// programmed is finished first, then the run ends with a failure. Callable from the window's
// thread at any time; the request is forgotten when the next run starts.
void RequestStopBetweenImages();

// True while a stop is requested and not yet forgotten.
bool StopBetweenImagesRequested();

}  // namespace fg
