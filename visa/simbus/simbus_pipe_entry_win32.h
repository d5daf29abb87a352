// Windows: a device's entry in the bus folder is a small file that holds the name of the
// device's named pipe, "\\.\pipe\flintgate-simbus-" and 32 hexadecimal digits, and a line feed.
// The device keeps the file open, delete-on-close, from before its pipe is listed until after it
// stops taking connections, so the entry goes with the device even when it crashes. The name is
// the device's own: it creates the pipe as its first instance, so nobody else holds it.
#pragma once
#include <string>

#include "visa/simbus/simbus_folder.h"

namespace fg::simbus {

// A fresh pipe name for a device, from the system's random generator.
std::string NewDevicePipeName();
bool IsDevicePipeName(const std::string& name);

// The pipe name in the entry file `name` of the folder. False when the entry is not a plain file
// of this user's making (a link, a folder, another content), or is gone.
bool ReadPipeEntry(const BusFolder& folder, const std::string& name, std::string* pipeName);

enum class PipeState {
  kListening,  // an instance waits for a connection
  kBusy,       // the pipe is there, every instance taken
  kGone,       // no pipe of that name
};
// Looks without connecting, so the device sees nothing.
PipeState ProbePipe(const std::string& pipeName);

}  // namespace fg::simbus
