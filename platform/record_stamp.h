// Where and when an update record was made: the machine's name and the calendar, which the
// standard library leaves to each system.
#pragma once
#include <ctime>
#include <string>

namespace fg::platform {

// The machine's name as the network knows it (gethostname; the computer's DNS host name on
// Windows); "unknown" when the system does not say.
std::string HostName();

// `when` in UTC as ISO 8601 to the second: "2025-03-04T05:06:07Z".
std::string UtcTimeText(std::time_t when);

// The local calendar date of `when`: "2025-03-04".
std::string LocalDateText(std::time_t when);

}  // namespace fg::platform
